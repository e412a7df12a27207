// Wide text to the console: WriteConsoleW on a console, UTF-8 when redirected to a file
// or pipe (so that no character is lost to the code page).
#pragma once

#include <string>

namespace kv::tool {

void WriteOut(const std::wstring& text);
void WriteError(const std::wstring& text);

}  // namespace kv::tool
