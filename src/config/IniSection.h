// IniSection: one named section of an INI document, a map from key to value.
//
// Keys are kept in ordinal order of their UTF-16 code units ("C" before "a"), which is
// the order of the text form. Keys are matched with IniCompare; a key is only ever
// inserted when no stored key matches, so no two stored keys match. A folded-key index
// gives the same answer as walking the keys with IniCompare, in logarithmic time, so a
// hostile file with many keys costs time in proportion to its size.
//
// Thread safety: a plain value; lookups refresh the index, so even const use of one
// instance belongs to one thread at a time.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace kv {

class IniSection {
 public:
  using Entries = std::map<std::wstring, std::wstring>;

  IniSection() = default;
  explicit IniSection(std::wstring_view name) : name_(name) {}

  // The name in the letter case it was created with; may be empty.
  const std::wstring& Name() const { return name_; }
  // Key/value pairs in ordinal key order, empty values included.
  const Entries& GetEntries() const { return entries_; }
  bool Empty() const { return entries_.empty(); }

  // The value of the key that matches `key` by IniCompare, or nullptr.
  const std::wstring* Find(std::wstring_view key) const;

  // Replaces the value of the matching key (its stored letter case stays), or inserts
  // `key` as given. An empty value is stored as such.
  void Set(std::wstring_view key, std::wstring value);

  // "[name]\n", every entry with a non-empty value as "key=value\n", then "\n". The
  // header uses `newName` when it is not empty. No entries at all give empty text.
  std::wstring ToText(std::wstring_view newName = {}) const;

 private:
  // Brings the index up to date with the entries and the current locale.
  void RefreshIndex() const;

  std::wstring name_;
  Entries entries_;
  // Folded key -> stored key; rebuilt whenever the case-mapping locale changes.
  mutable std::map<std::wstring, std::wstring> index_;
  mutable std::string indexStamp_;
  mutable bool indexBuilt_ = false;
};

}  // namespace kv
