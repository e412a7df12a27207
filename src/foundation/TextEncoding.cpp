#include "foundation/TextEncoding.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "foundation/ErrorCodes.h"

namespace kv {

namespace {

// The calling thread's last error as a failure; a Windows call that failed without
// setting one must still not read as success.
ResultChain SystemFailure() {
  ResultChain chain = LastErrorChain();
  return chain.Failed() ? chain : ResultChain(ERROR_GEN_FAILURE);
}

void EraseAll(std::wstring& text, wchar_t unit) { text.erase(std::remove(text.begin(), text.end(), unit), text.end()); }

// The text up to its first U+0000, so that no caller sees an embedded terminator.
void CutAtZero(std::wstring& text) {
  const std::size_t zero = text.find(L'\0');
  if (zero != std::wstring::npos) text.resize(zero);
}

// The decoder proper; the public entry points have already handled empty input.
ResultChain DecodeBytes(const unsigned char* bytes, std::size_t count, std::wstring& text, ResultChain* kinds) {
  if (kinds != nullptr) kinds->Add(StrTypeAnsi);

  // UTF-16 little-endian with its mark. A two-byte "FF FE" is too short to hold text and
  // an odd count cannot be UTF-16; both go to the code-page branch.
  if (count >= 3 && count % 2 == 0 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    // Assembled byte by byte: the bytes may not be aligned for wchar_t, and a wchar_t
    // wider than a UTF-16 unit (a native build of the parsers) still gets one unit each.
    std::wstring units(count / 2, L'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return DecodeUtf16(units.data(), units.size(), text, kinds);
  }

  if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    if (kinds != nullptr) {
      kinds->Add(StrTyepBom);
      kinds->Add(StrTypeUTF8);
    }
    std::wstring wide;
    ResultChain chain =
        NarrowToWide(reinterpret_cast<const char*>(bytes), count, CP_UTF8, MB_ERR_INVALID_CHARS, wide);
    if (chain.Failed()) return chain;
    // The mark decodes to U+FEFF; one inside the text goes as well.
    CutAtZero(wide);
    EraseAll(wide, L'\xFEFF');
    text = std::move(wide);
    return {};
  }

  const char* narrow = reinterpret_cast<const char*>(bytes);
  const int length = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, static_cast<int>(count),
                                           /*lpWideCharStr=*/nullptr, /*cchWideChar=*/0);
  if (length <= 0) return KV_MARK(SystemFailure());
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow, static_cast<int>(count), buffer.data(), length) <=
      0) {
    return KV_MARK(SystemFailure());
  }
  std::wstring decoded;
  ResultChain chain = DecodeUtf16(buffer.data(), buffer.size(), decoded, nullptr);
  if (chain.Failed()) return KV_MARK(chain);
  text = std::move(decoded);
  return {};
}

// CP_ACP as the code page it stands for.
unsigned ActualCodePage(unsigned codePage) { return codePage == CP_ACP ? ::GetACP() : codePage; }

}  // namespace

ResultChain DecodeText(const void* bytes, std::size_t count, std::wstring& text, ResultChain* kinds) {
  text.clear();
  if (count == 0) return {};
  if (bytes == nullptr) return KV_MARK(err::InvalidArgumentNullPointer);
  // The code-page functions count in int; refuse what they cannot take before reading.
  if (count > static_cast<std::size_t>(INT_MAX)) return KV_MARK(err::SizelimitOver);
  return DecodeBytes(static_cast<const unsigned char*>(bytes), count, text, kinds);
}

ResultChain DecodeText(std::string_view bytes, std::wstring& text, ResultChain* kinds) {
  return DecodeText(bytes.data(), bytes.size(), text, kinds);
}

ResultChain DecodeUtf16(const wchar_t* units, std::size_t count, std::wstring& text, ResultChain* kinds) {
  text.clear();
  if (kinds != nullptr) kinds->Add(StrTypeUnknown);
  if (units == nullptr || count == 0) return {};

  std::wstring decoded(units, std::find(units, units + count, L'\0'));
  if (decoded.empty()) return {};

  if (decoded.front() == L'\xFEFF' && kinds != nullptr) {
    kinds->Add(StrTyepBom);
    kinds->Add(StrTypeLittleEndian);
    kinds->Add(StrTypeUTF16);
  }
  if (decoded.front() == L'\xFFFE') {
    if (kinds != nullptr) {
      kinds->Add(StrTyepBom);
      kinds->Add(StrTypeBigEndian);
      kinds->Add(StrTypeUTF16);
    }
    // Swapping keeps a zero unit zero, so the text still ends where it did.
    for (wchar_t& unit : decoded) {
      const auto value = static_cast<unsigned short>(unit);
      unit = static_cast<wchar_t>(static_cast<unsigned short>((value << 8) | (value >> 8)));
    }
  }
  if (kinds != nullptr) kinds->Add(StrTypeUTF16);
  EraseAll(decoded, L'\xFEFF');
  text = std::move(decoded);
  return {};
}

ResultChain NarrowToWide(const char* bytes, std::size_t count, unsigned codePage, unsigned long flags,
                         std::wstring& text) {
  text.clear();
  if (count == 0) return {};
  if (bytes == nullptr) return KV_MARK(err::InvalidArgumentNullPointer);
  if (count > static_cast<std::size_t>(INT_MAX)) return KV_MARK(err::SizelimitOver);
  const int length = ::MultiByteToWideChar(codePage, flags, bytes, static_cast<int>(count),
                                           /*lpWideCharStr=*/nullptr, /*cchWideChar=*/0);
  if (length <= 0) return SystemFailure();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  const int converted = ::MultiByteToWideChar(codePage, flags, bytes, static_cast<int>(count), wide.data(), length);
  if (converted <= 0) return SystemFailure();
  wide.resize(static_cast<std::size_t>(converted));
  text = std::move(wide);
  return {};
}

unsigned long WideToNarrowFlags(unsigned codePage, unsigned long wanted) {
  const unsigned page = ActualCodePage(codePage);
  if (page == CP_UTF8 || page == 54936) return wanted & WC_ERR_INVALID_CHARS;
  const bool noFlags = (page >= 50220 && page <= 50229) || page == 52936 || (page >= 57002 && page <= 57011) ||
                       page == CP_UTF7 || page == 42;
  return noFlags ? 0 : wanted;
}

ResultChain WideToNarrow(std::wstring_view text, unsigned codePage, unsigned long wantedFlags, std::string& bytes,
                         bool* usedDefault) {
  bytes.clear();
  if (usedDefault != nullptr) *usedDefault = false;
  // Nothing to convert is not a failure, although the system call would call it one.
  if (text.empty()) return {};
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return KV_MARK(err::SizelimitOver);
  const unsigned long flags = WideToNarrowFlags(codePage, wantedFlags);
  // The UTF-7 and UTF-8 converters refuse to be asked about default characters.
  const unsigned page = ActualCodePage(codePage);
  const bool askDefault = usedDefault != nullptr && page != CP_UTF7 && page != CP_UTF8;
  BOOL used = FALSE;
  const int length = ::WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                           /*lpMultiByteStr=*/nullptr, /*cbMultiByte=*/0,
                                           /*lpDefaultChar=*/nullptr, askDefault ? &used : nullptr);
  if (length <= 0) return SystemFailure();
  std::string narrow(static_cast<std::size_t>(length), '\0');
  used = FALSE;
  const int converted = ::WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()),
                                              narrow.data(), length, /*lpDefaultChar=*/nullptr,
                                              askDefault ? &used : nullptr);
  if (converted <= 0) return SystemFailure();
  narrow.resize(static_cast<std::size_t>(converted));
  bytes = std::move(narrow);
  if (usedDefault != nullptr) *usedDefault = used != FALSE;
  return {};
}

ResultChain WideToNarrowWithoutBom(std::wstring_view text, std::string& bytes) {
  std::wstring plain(text);
  EraseAll(plain, L'\xFEFF');
  return WideToNarrow(plain, CP_ACP, 0, bytes);
}

}  // namespace kv
