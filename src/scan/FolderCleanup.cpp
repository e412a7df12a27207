#include "scan/FolderCleanup.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/FolderEnumeration.h"
#include "foundation/PathName.h"

namespace kv {

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Walks an enumeration to its end, calling `visit` for each entry.
template <typename Visit>
void ForEachEntry(FolderEnumeration& entries, Visit visit) {
  while (entries.Next().Count() == 0) visit(entries);
}

ResultChain DeleteEntry(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A folder link is a directory entry too: RemoveDirectory takes away the link only.
    if (!::RemoveDirectoryW(path.c_str())) return KV_MARK(err::FailDeleteFolder);
    return {};
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return KV_MARK(ResultChain(err::FailDeleteFile) + LastErrorChain());
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    return KV_MARK(ResultChain(err::FailDeleteFile) + LastErrorChain());
  }
  if (!::DeleteFileW(path.c_str())) return KV_MARK(ResultChain(err::FailDeleteFile) + LastErrorChain());
  return {};
}

}  // namespace

ResultChain SplitFolderNumber(const std::wstring& path, std::wstring& base, std::uint32_t& number) {
  PathName name(L"default");
  if (!path.empty()) {
    if (ResultChain set = name.Set(path); set.Count() != 0) return KV_MARK(set);
  }
  const std::wstring stem = name.FileName(false);
  std::size_t digitsFrom = stem.size();
  while (digitsFrom > 0 && std::iswdigit(stem[digitsFrom - 1])) --digitsFrom;
  const std::wstring digits = stem.substr(digitsFrom);
  if (digits.size() >= 10) return KV_MARK(err::IndexOverFlow);
  base = stem.substr(0, digitsFrom);
  number = digits.empty() ? 0 : static_cast<std::uint32_t>(std::wcstoul(digits.c_str(), nullptr, 10));
  return {};
}

ResultChain DeleteFolderTree(const std::wstring& folder, int depth) {
  if (folder.empty()) return KV_MARK(err::InvalidFolder);
  // A folder that is itself a link goes as a link, so its target is never emptied.
  const DWORD rootAttributes = ::GetFileAttributesW(folder.c_str());
  if (rootAttributes != INVALID_FILE_ATTRIBUTES && (rootAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    if (!::RemoveDirectoryW(folder.c_str())) return KV_MARK(ResultChain(err::FailDeleteFolder) + LastErrorChain());
    return {};
  }

  std::size_t expected = 0;
  {
    FolderEnumeration counting;
    if (counting.Start(folder, depth).Count() == 0) ForEachEntry(counting, [&](FolderEnumeration&) { ++expected; });
  }
  std::vector<std::wstring> entries;
  entries.reserve(expected + 100);

  FolderEnumeration listing;
  if (listing.Start(folder, depth).Count() != 0) return KV_MARK(err::FolderNotFound);
  ForEachEntry(listing, [&](FolderEnumeration& e) { entries.push_back(NormalizePath(e.FullPath())); });

  // Descending order puts every entry before the folder that holds it.
  std::sort(entries.begin(), entries.end());
  std::reverse(entries.begin(), entries.end());
  for (const std::wstring& entry : entries) {
    if (ResultChain deleted = DeleteEntry(entry); deleted.Count() != 0) return KV_MARK(deleted);
  }
  if (!::RemoveDirectoryW(folder.c_str())) return KV_MARK(ResultChain(err::FailDeleteFolder) + LastErrorChain());
  return {};
}

ResultChain ProgramFolderCleanup(const std::wstring& programPath, const std::wstring& baseName) {
  const std::wstring wanted = Lower(baseName);
  const std::wstring own = NormalizePath(programPath + L"\\..\\");
  const std::wstring parent = NormalizePath(programPath + L"\\..\\..\\");
  const std::wstring ownLower = Lower(own);

  std::wstring base;
  std::uint32_t number = 0;
  if (SplitFolderNumber(ownLower, base, number).Count() != 0) return KV_MARK(err::InvalidPath);
  base = Lower(base);
  if (base.empty() || (!wanted.empty() && base != wanted)) return KV_MARK(err::InvalidPath);

  FolderEnumeration siblings;
  if (ResultChain started = siblings.Start(parent, 0); started.Count() != 0) return KV_MARK(started);
  std::vector<std::wstring> candidates;
  ForEachEntry(siblings, [&](FolderEnumeration& e) {
    if (!(e.Attributes() & FILE_ATTRIBUTE_DIRECTORY)) return;
    const std::wstring path = NormalizePath(e.FullPath());
    std::wstring siblingBase;
    std::uint32_t siblingNumber = 0;
    if (SplitFolderNumber(path, siblingBase, siblingNumber).Count() == 0 && Lower(siblingBase) == base) {
      candidates.push_back(Lower(path));
    }
  });
  if (std::find(candidates.begin(), candidates.end(), ownLower) == candidates.end()) return KV_MARK(err::InvalidPath);
  std::erase(candidates, ownLower);

  for (const std::wstring& candidate : candidates) DeleteFolderTree(candidate, -1);
  return {};
}

}  // namespace kv
