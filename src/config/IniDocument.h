// IniDocument: the system's own model of INI text.
//
// Ordered sections (in order of creation), each a sorted map from key to value, all as
// UTF-16 text. Names and keys match with IniCompare. The reader is lenient: no line ever
// makes a parse fail. The writer normalises: sections in list order, keys in ordinal
// order, empty values and empty or unnamed sections left out, LF line ends, a blank line
// after every section.
//
// Every lookup that names a section finds it or appends it (reads included), so a
// section first touched by a read keeps that place when it is filled later.
//
// Thread safety: a value type used by one thread at a time; share it by copying.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/IniSection.h"
#include "config/IniText.h"
#include "foundation/ResultChain.h"

namespace kv {

class IniDocument {
 public:
  // An empty document whose default section is "Setting".
  IniDocument();
  // A document parsed from `text`.
  explicit IniDocument(std::wstring_view text);

  // Removes every section; the default section becomes "Setting". Always succeeds.
  ResultChain Clear();

  // Clear, then read every line of `text`. Always succeeds; bad lines are skipped.
  ResultChain Parse(std::wstring_view text);

  // Clear, then decode the bytes (UTF-16LE or UTF-8 with byte-order mark, else the ANSI
  // code page), cut the text at its first U+0000 and parse it. No bytes fail with
  // InvalidBuffer; undecodable bytes fail with the decoder's chain. On failure the
  // document stays empty.
  ResultChain ParseBytes(std::string_view bytes);

  // The section used when an operation is given an empty section name.
  std::wstring DefaultSection() const { return defaultSection_; }
  ResultChain SetDefaultSection(std::wstring_view name);

  // The stored value, or `defaultText` when the key is missing or its value is empty.
  // Creates the section (empty) when it is missing. An empty section name means the
  // default section, here and below.
  std::wstring GetString(std::wstring_view key, std::wstring_view defaultText = {}, std::wstring_view section = {});

  // GetString converted with wcstoul and `radix` (0: "0x" hexadecimal, leading "0"
  // octal, else decimal). Empty, unconvertible or out-of-range text gives the default.
  std::uint32_t GetInt(std::wstring_view key, std::uint32_t defaultNumber, int radix = 0,
                       std::wstring_view section = {});

  // Stores the value; a key that matches keeps its stored letter case. Always succeeds.
  ResultChain SetString(std::wstring_view key, std::wstring_view value, std::wstring_view section = {});

  // Stores the flag's byte value as decimal text ("1" or "0"). Always succeeds.
  ResultChain SetBool(std::wstring_view key, std::uint8_t flag, std::wstring_view section = {});

  // The normalised text. With a filter only sections named exactly so (case matters)
  // are written, under `newName` when that is not empty.
  std::wstring ToText(std::wstring_view filter = {}, std::wstring_view newName = {}) const;

  // The sections in order of creation (empty ones included).
  const std::vector<IniSection>& Sections() const { return sections_; }

 private:
  // Reads the lines of `text` into the document; the default section is kept.
  void ParseLines(std::wstring_view text);
  // Position of the section matching `name` by IniCompare; appended when missing.
  std::size_t FindOrCreate(std::wstring_view name);
  void RefreshIndex();

  std::vector<IniSection> sections_;
  std::wstring defaultSection_;
  // Folded name -> position in sections_; rebuilt when the case-mapping locale changes.
  std::map<std::wstring, std::size_t> index_;
  std::string indexStamp_;
  bool indexBuilt_ = false;
};

// Reads the file at `path` and parses it into `document`. Always succeeds: a missing,
// locked, unreadable or undecodable file leaves the document cleared, so callers check
// its contents when they need the file.
ResultChain LoadIniFile(std::wstring_view path, IniDocument& document);

}  // namespace kv
