// Text encodings: bytes from files and resources become wide (UTF-16) text here, and
// wide text becomes narrow text only at the edges that need it.
//
// Every function accepts any input (odd byte counts, lone surrogates, embedded zeros,
// huge sizes) and reports what it cannot convert as a ResultChain; none throws.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "foundation/ResultChain.h"

namespace kv {

// The encoding kinds a decoder reports. They are codes of the family StringTypeBase so
// that a kind list (a ResultChain used as a list) can carry and print them.
// "Tyep" in two names is the names' own spelling.
enum StringType : ErrorCode {
  StrTypeAnsi = 0x6A880001,          // text in the system's ANSI code page
  StrTypeUTF8 = 0x6A880002,          // UTF-8
  StrTypeUTF16 = 0x6A880003,         // UTF-16
  StrTypeUTF32 = 0x6A880004,         // UTF-32 (named only)
  StrTyepBom = 0x6A880005,           // a byte-order mark was present
  StrTyepSjis = 0x6A880006,          // Shift-JIS (named only)
  StrTypeLittleEndian = 0x6A881000,  // little-endian UTF-16
  StrTypeBigEndian = 0x6A881001,     // big-endian UTF-16
  StrTypeUnknown = 0x6A88FFFF,       // not yet determined
};

// Decodes bytes from a file or resource: FF FE (with at least 3 bytes and an even
// count) is UTF-16 little-endian, EF BB BF (with at least 3 bytes) is UTF-8, anything
// else is the ANSI code page. Every U+FEFF is removed and, whatever the encoding, the
// text ends at its first U+0000. When `kinds` is given the codes found are added to it
// (ResultChain::Contains asks for one). Invalid bytes fail with the system error
// (typically ERROR_NO_UNICODE_TRANSLATION) and a line marker; `text` is then empty.
ResultChain DecodeText(const void* bytes, std::size_t count, std::wstring& text, ResultChain* kinds = nullptr);

// The front of DecodeText: no bytes give empty text and success without decoding (the
// kind list is left as it is); anything else is DecodeText above.
ResultChain DecodeText(std::string_view bytes, std::wstring& text, ResultChain* kinds = nullptr);

// Takes `count` UTF-16 units up to the first U+0000. A leading U+FFFE means big-endian:
// every unit is then byte-swapped. Every U+FEFF is removed. Lone surrogates are kept as
// they are. Never fails.
ResultChain DecodeUtf16(const wchar_t* units, std::size_t count, std::wstring& text, ResultChain* kinds = nullptr);

// MultiByteToWideChar with the code page and flags. No bytes give empty text and
// success; a failure returns the system error and leaves `text` empty.
ResultChain NarrowToWide(const char* bytes, std::size_t count, unsigned codePage, unsigned long flags,
                         std::wstring& text);

// The flags out of `wanted` that WideCharToMultiByte accepts for `codePage` (CP_ACP is
// the system's ANSI code page). UTF-8, UTF-7, GB18030, the ISO-2022 and ISCII families
// and the symbol page refuse every flag but WC_ERR_INVALID_CHARS (UTF-8 and GB18030
// only) with ERROR_INVALID_FLAGS, and UTF-8 can be the ANSI code page of Windows 10 and
// later, so WC_NO_BEST_FIT_CHARS must be left out there. WideToNarrow applies it.
unsigned long WideToNarrowFlags(unsigned codePage, unsigned long wanted);

// WideCharToMultiByte with the code page and the flags of them that it accepts
// (WideToNarrowFlags), no default character given. The
// output holds exactly the converted bytes (no terminating zero). `usedDefault`, when
// given, tells whether a default character replaced something. A failure returns the
// system error and leaves `bytes` empty.
ResultChain WideToNarrow(std::wstring_view text, unsigned codePage, unsigned long flags, std::string& bytes,
                         bool* usedDefault = nullptr);

// For narrow-text interfaces: deletes every U+FEFF, then converts to the ANSI code page
// (CP_ACP, no flags).
ResultChain WideToNarrowWithoutBom(std::wstring_view text, std::string& bytes);

}  // namespace kv
