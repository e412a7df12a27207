// The settings file "Kestravondal.ini" beside the program, and how its values overlay
// the built-in settings before they reach the scan engine.
#pragma once

#include <string>
#include <vector>

#include "config/IniDocument.h"
#include "foundation/ResultChain.h"

namespace kv {

inline constexpr wchar_t kSettingsFileName[] = L"Kestravondal.ini";
inline constexpr wchar_t kSettingsSection[] = L"Kestravondal";

// The full path of "Kestravondal.ini" in the program's folder.
std::wstring SettingsFilePath();

// Copies the administrator's values (section "Kestravondal" of `source`) into `target`
// under the names the scan engine reads. The file's values always win, empty ones too.
ResultChain OverlayFileSettings(IniDocument& target, IniDocument& source);

// Who besides the trusted principals may read the settings file at `path`, when
// `settings`, read from it, holds a proxy password (nobody is listed when it holds
// none). The system's error when the file's access list cannot be read.
ResultChain ProxyPassReaders(const std::wstring& path, IniDocument& settings, std::vector<std::wstring>& readers);

}  // namespace kv
