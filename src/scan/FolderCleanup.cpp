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
  const DWORD attributes = ::GetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A folder link is a directory entry too: RemoveDirectory takes away the link only.
    if (!::RemoveDirectoryW(LongPathForm(path, PathKind::Folder).c_str())) return KV_MARK(err::FailDeleteFolder);
    return {};
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return KV_MARK(ResultChain(err::FailDeleteFile) + LastErrorChain());
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !::SetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str(),
                            attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    return KV_MARK(ResultChain(err::FailDeleteFile) + LastErrorChain());
  }
  if (!::DeleteFileW(LongPathForm(path).c_str())) return KV_MARK(ResultChain(err::FailDeleteFile) + LastErrorChain());
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

ResultChain DeleteFolderTree(const std::wstring& requested, int depth) {
  if (requested.empty()) return KV_MARK(err::InvalidFolder);
  // Resolved once: every step below works on the folder that was named, never on one a
  // relative or rooted text would come to mean later.
  const std::wstring folder = NormalizePath(FullPathName(requested));
  if (folder.empty()) return KV_MARK(err::InvalidFolder);
  // A folder that is itself a link goes as a link, so its target is never emptied.
  const DWORD rootAttributes = ::GetFileAttributesW(LongPathForm(folder, PathKind::Folder).c_str());
  if (rootAttributes != INVALID_FILE_ATTRIBUTES && (rootAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    if (!::RemoveDirectoryW(LongPathForm(folder, PathKind::Folder).c_str())) {
      return KV_MARK(ResultChain(err::FailDeleteFolder) + LastErrorChain());
    }
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
    if (ResultChain deleted = DeleteEntry(LongPathForm(entry)); deleted.Count() != 0) return KV_MARK(deleted);
  }
  if (!::RemoveDirectoryW(LongPathForm(folder, PathKind::Folder).c_str())) {
    return KV_MARK(ResultChain(err::FailDeleteFolder) + LastErrorChain());
  }
  return {};
}

namespace {

// The identities of the program's own folder and of every folder that holds it, on the
// path the system resolves it to: a folder link above it, or the program's folder being
// a link itself, must not hide that a sibling is, or contains, the installation.
ResultChain OwnFolderIdentities(const std::wstring& own, std::vector<FileIdentity>& identities) {
  FileIdentity identity;
  std::wstring resolved;
  if (ResultChain identified = IdentifyFile(own, identity, &resolved); identified.Failed()) return KV_MARK(identified);
  identities.push_back(identity);
  std::wstring folder = NormalizePath(resolved.empty() ? own : resolved);
  for (;;) {
    const std::wstring up = NormalizePath(folder + L"\\..");
    if (up == folder) break;
    folder = up;
    if (IdentifyFile(folder, identity).Count() == 0) identities.push_back(identity);
  }
  return {};
}

// Whether the folder `path` resolves to lies in `parent`: a sibling that leads out of
// its parent is a link, which the clean-up removes as a link and never enters.
bool ResolvesInto(const std::wstring& path, const FileIdentity& parent) {
  FileIdentity identity;
  std::wstring resolved;
  if (IdentifyFile(path, identity, &resolved).Failed() || resolved.empty()) return false;
  FileIdentity holder;
  return IdentifyFile(NormalizePath(resolved + L"\\.."), holder).Count() == 0 && holder == parent;
}

}  // namespace

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

  // Names only say which folders look like copies; identities say which one is ours.
  // Without them nothing is deleted: a guess could take the running installation.
  std::vector<FileIdentity> keep;
  if (ResultChain identified = OwnFolderIdentities(own, keep); identified.Failed()) return KV_MARK(identified);
  FileIdentity parentIdentity;
  if (ResultChain identified = IdentifyFile(parent, parentIdentity); identified.Failed()) return KV_MARK(identified);

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

  for (const std::wstring& candidate : candidates) {
    FileIdentity identity;
    if (IdentifyFile(candidate, identity).Failed()) continue;
    if (std::find(keep.begin(), keep.end(), identity) != keep.end()) continue;
    if (!ResolvesInto(candidate, parentIdentity)) {
      // A link out of the parent: the link alone.
      ::RemoveDirectoryW(LongPathForm(candidate, PathKind::Folder).c_str());
      continue;
    }
    DeleteFolderTree(candidate, -1);
  }
  return {};
}

}  // namespace kv
