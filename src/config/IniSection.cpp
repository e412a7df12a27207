#include "config/IniSection.h"

#include "config/IniText.h"

namespace kv {

void IniSection::RefreshIndex() const {
  const char* stamp = IniFoldStamp();
  if (indexBuilt_ && indexStamp_ == stamp) return;
  // Under a new locale two stored keys may fold alike; emplace keeps the first in key
  // order, which is the one a walk in key order would find.
  index_.clear();
  for (const auto& entry : entries_) index_.emplace(IniFold(entry.first), entry.first);
  indexStamp_ = stamp;
  indexBuilt_ = true;
}

const std::wstring* IniSection::Find(std::wstring_view key) const {
  RefreshIndex();
  const auto hit = index_.find(IniFold(key));
  if (hit == index_.end()) return nullptr;
  const auto entry = entries_.find(hit->second);
  return entry == entries_.end() ? nullptr : &entry->second;
}

void IniSection::Set(std::wstring_view key, std::wstring value) {
  RefreshIndex();
  std::wstring folded = IniFold(key);
  const auto hit = index_.find(folded);
  if (hit != index_.end()) {
    entries_[hit->second] = std::move(value);
    return;
  }
  std::wstring stored(key);
  index_.emplace(std::move(folded), stored);
  entries_.emplace(std::move(stored), std::move(value));
}

std::wstring IniSection::ToText(std::wstring_view newName) const {
  if (entries_.empty()) return {};
  // Plain concatenation rather than "[%s]\n" formatting: same text, and a name holding
  // U+0000 is not cut short.
  std::wstring text;
  text += L'[';
  text += newName.empty() ? std::wstring_view(name_) : newName;
  text += L"]\n";
  for (const auto& [key, value] : entries_) {
    if (value.empty()) continue;
    text += key;
    text += L'=';
    text += value;
    text += L'\n';
  }
  text += L'\n';
  return text;
}

}  // namespace kv
