#include "foundation/TextFormat.h"

#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <vector>

#include "foundation/ErrorNames.h"

namespace kv {

std::wstring FormatText(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(256, L'\0');
  for (int attempt = 0; attempt < 20; ++attempt) {
    va_list args;
    va_start(args, format);
    const int written = _vsnwprintf(buffer.data(), buffer.size() - 1, format, args);
    va_end(args);
    if (written > 0 && static_cast<std::size_t>(written) < buffer.size()) break;
    const std::size_t next = written < 0 ? buffer.size() * 2 : static_cast<std::size_t>(written) + 1;
    buffer.assign(next, L'\0');
  }
  return std::wstring(buffer.data());
}

std::wstring ReplaceAll(std::wstring text, const std::wstring& find, const std::wstring& replacement) {
  if (find.empty()) return text;
  std::size_t pos = 0;
  while ((pos = text.find(find, pos)) != std::wstring::npos) {
    text.replace(pos, find.size(), replacement);
    pos += replacement.size();
  }
  return text;
}

std::wstring SystemMessageText(ErrorCode code, unsigned languageId) {
  wchar_t buffer[2048] = {};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, /*lpSource=*/nullptr, code, languageId,
                                        buffer, 2048, /*Arguments=*/nullptr);
  if (length == 0) return {};
  return std::wstring(buffer);
}

MessageLanguage& CurrentMessageLanguage() {
  static MessageLanguage language;
  return language;
}

namespace {

void SelectMode(MessageLanguage& lang, int mode) {
  switch (mode) {
    case 1:
      lang = {false, false, 1033};
      break;
    case 2:
      lang = {true, false, 1041};
      break;
    case 3:
      lang.chinese = true;
      lang.japanese = false;
      break;
    case -1:
      lang = {false, false, 1033};
      if (::GetSystemDefaultLangID() == 1041) {
        lang.japanese = true;
        lang.languageId = 1041;
      }
      if (::GetSystemDefaultLangID() == 2052) lang.chinese = true;
      break;
    default:
      break;
  }
}

}  // namespace

std::wstring FormatCodeText(ErrorCode code, int mode) {
  MessageLanguage& lang = CurrentMessageLanguage();
  SelectMode(lang, mode);
  if (IsLineMarker(code)) return FormatText(L"Line(%d)", static_cast<int>(code - LineBase));
  if (IsFamilyCode(code)) return CodeText(code, lang.japanese ? 1 : (lang.chinese ? 2 : 0));
  std::wstring message = SystemMessageText(code, lang.languageId);
  message = ReplaceAll(ReplaceAll(message, L"\n", L""), L"\r", L"");
  return FormatText(L"%s", message.c_str());
}

}  // namespace kv
