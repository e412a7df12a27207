// Wide-text formatting and the system's message texts.
#pragma once

#include <string>

#include "foundation/ResultChain.h"

namespace kv {

// printf-style formatting through the Windows CRT's _vsnwprintf, where "%s" in a wide
// format takes a wide string. Grows the buffer and retries; gives empty text for a
// format that produces nothing or never fits.
std::wstring FormatText(const wchar_t* format, ...);

// Replaces every occurrence of `find`, scanning on after each inserted replacement.
std::wstring ReplaceAll(std::wstring text, const std::wstring& find, const std::wstring& replacement);

// The system's message for a Windows code in the given language (0: default search
// order), or empty text when the system has none.
std::wstring SystemMessageText(ErrorCode code, unsigned languageId);

// The process-wide language for FormatCodeText. Written only during start-up.
struct MessageLanguage {
  bool japanese = false;
  bool chinese = false;
  unsigned languageId = 1041;
};
MessageLanguage& CurrentMessageLanguage();

// One code as text in the selected language. Mode 0 keeps the setting, 1 English,
// 2 Japanese, 3 Chinese, -1 chooses from the system's default language.
std::wstring FormatCodeText(ErrorCode code, int mode);

}  // namespace kv
