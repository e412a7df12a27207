// What one update needs from the settings text the service hands over.
//
// Read keys: section "AntiVirus" "UpdateTypeKey" (only "UpdateUnc" is served),
// "UpdateUnc" (the folder or share holding the definition set) and "DefDatFolder" (the
// installed definitions; a relative value is taken relative to the engine's own folder,
// which is the program's folder); the engine's own section "ScanEngine" key
// "CopyDelayMs". Nothing else is read; in particular the proxy account is never looked at.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kv::refengine {

inline constexpr wchar_t kEngineSection[] = L"ScanEngine";
inline constexpr wchar_t kUpdateTypeUnc[] = L"UpdateUnc";

struct UpdateRequest {
  std::wstring updateType;
  std::wstring source;       // normalised; empty when not set
  std::wstring destination;  // normalised full path; empty when not set
  DWORD copyDelayMs = 0;
};

UpdateRequest ReadUpdateRequest(std::wstring_view settingsText);

// The folder that holds this library, without a trailing separator.
std::wstring EngineFolder();

// `value` as a full path: absolute values (drive, UNC, rooted) stay, others are taken
// relative to `base`. Normalised; empty for an empty value.
std::wstring ResolveAgainst(const std::wstring& base, const std::wstring& value);

}  // namespace kv::refengine
