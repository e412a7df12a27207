#include "config/IniDocument.h"

#include <cwchar>

#include "foundation/ErrorCodes.h"
#include "foundation/FileStream.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"

namespace kv {
namespace {

constexpr wchar_t kInitialSection[] = L"Setting";
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

}  // namespace

// Clear and Parse always succeed.
IniDocument::IniDocument() { (void)Clear(); }

IniDocument::IniDocument(std::wstring_view text) { (void)Parse(text); }

ResultChain IniDocument::Clear() {
  sections_.clear();
  index_.clear();
  indexBuilt_ = false;
  defaultSection_ = kInitialSection;
  return {};
}

ResultChain IniDocument::Parse(std::wstring_view text) {
  (void)Clear();  // always succeeds
  ParseLines(text);
  return {};
}

ResultChain IniDocument::ParseBytes(std::string_view bytes) {
  (void)Clear();  // always succeeds
  if (bytes.empty()) return KV_MARK(err::InvalidBuffer);
  std::wstring text;
  const ResultChain decoded = DecodeText(bytes.data(), bytes.size(), text);
  if (decoded.Failed()) return KV_MARK(decoded);
  // Whatever follows an embedded zero is not part of the text.
  const std::size_t zero = text.find(L'\0');
  if (zero != std::wstring::npos) text.resize(zero);
  ParseLines(text);
  return {};
}

void IniDocument::ParseLines(std::wstring_view text) {
  const std::wstring remembered = defaultSection_;
  // The section of the current header, looked up on its first key line.
  std::size_t current = kNone;
  std::size_t start = 0;
  while (start <= text.size()) {
    // Each CR and each LF ends a line by itself.
    std::size_t end = text.find_first_of(L"\r\n", start);
    if (end == std::wstring_view::npos) end = text.size();
    const std::wstring_view line = text.substr(start, end - start);
    start = end + 1;

    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      const std::size_t close = line.find(L']');
      if (close != std::wstring_view::npos) {
        defaultSection_.assign(line.substr(1, close - 1));
        current = kNone;
        continue;
      }
    }
    // Key lines before any named header have nowhere to go.
    if (defaultSection_.empty() && sections_.empty()) continue;
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos) continue;
    if (current == kNone) current = FindOrCreate(defaultSection_);
    sections_[current].Set(line.substr(0, equals), std::wstring(line.substr(equals + 1)));
  }
  defaultSection_ = remembered;
}

void IniDocument::RefreshIndex() {
  const char* stamp = IniFoldStamp();
  if (indexBuilt_ && indexStamp_ == stamp) return;
  // Under a new locale two names may fold alike; the first in list order wins, as in a
  // walk of the list.
  index_.clear();
  for (std::size_t i = 0; i < sections_.size(); ++i) index_.emplace(IniFold(sections_[i].Name()), i);
  indexStamp_ = stamp;
  indexBuilt_ = true;
}

std::size_t IniDocument::FindOrCreate(std::wstring_view name) {
  RefreshIndex();
  std::wstring folded = IniFold(name);
  const auto hit = index_.find(folded);
  if (hit != index_.end()) return hit->second;
  sections_.emplace_back(name);
  index_.emplace(std::move(folded), sections_.size() - 1);
  return sections_.size() - 1;
}

ResultChain IniDocument::SetDefaultSection(std::wstring_view name) {
  defaultSection_.assign(name);
  return {};
}

std::wstring IniDocument::GetString(std::wstring_view key, std::wstring_view defaultText,
                                    std::wstring_view section) {
  const std::size_t at = FindOrCreate(section.empty() ? std::wstring_view(defaultSection_) : section);
  const std::wstring* value = sections_[at].Find(key);
  if (value == nullptr || value->empty()) return std::wstring(defaultText);
  return *value;
}

std::uint32_t IniDocument::GetInt(std::wstring_view key, std::uint32_t defaultNumber, int radix,
                                  std::wstring_view section) {
  return TextToNumber(&std::wcstoul, GetString(key, {}, section), defaultNumber, radix);
}

ResultChain IniDocument::SetString(std::wstring_view key, std::wstring_view value, std::wstring_view section) {
  const std::size_t at = FindOrCreate(section.empty() ? std::wstring_view(defaultSection_) : section);
  sections_[at].Set(key, std::wstring(value));
  return {};
}

ResultChain IniDocument::SetBool(std::wstring_view key, std::uint8_t flag, std::wstring_view section) {
  return SetString(key, FormatText(L"%d", static_cast<int>(flag)), section);
}

std::wstring IniDocument::ToText(std::wstring_view filter, std::wstring_view newName) const {
  std::wstring text;
  for (const IniSection& section : sections_) {
    if (section.Name().empty() || section.Empty()) continue;
    // The filter compares exactly, unlike lookups.
    if (!filter.empty() && section.Name() != filter) continue;
    text += section.ToText(filter.empty() ? std::wstring_view() : newName);
  }
  return text;
}

ResultChain LoadIniFile(std::wstring_view path, IniDocument& document) {
  // Every failure on the way leaves the document cleared; none is reported.
  std::string bytes;
  FileStream stream;
  if (!stream.OpenRead(path, L"rb").Failed() && stream.ReadAll(bytes).Failed()) bytes.clear();
  (void)stream.Close();
  (void)document.ParseBytes(bytes);
  return {};
}

}  // namespace kv
