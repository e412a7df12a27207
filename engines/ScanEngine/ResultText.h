// The INI text an update leaves in the service's result buffer. Section
// "ScannerVersion" is what the service logs and keeps as "ScannerVersion.ini"; it is
// built from named values only, so nothing else from the settings (the proxy account
// above all) can reach it.
#pragma once

#include <cstdint>
#include <string>

#include "DefinitionUpdater.h"

namespace kv::refengine {

inline constexpr wchar_t kEngineVersion[] = L"1.0.0";

std::wstring ResultText(const UpdateReport& report);

// The text for Initialize: the engine's version alone.
std::wstring InitializeText();

// Copies `text` into a result buffer of `units` UTF-16 units, cut so that it fits with
// its terminator.
void CopyToResultBuffer(const std::wstring& text, wchar_t* buffer, std::uint32_t units);

}  // namespace kv::refengine
