#include "scan/FolderCleanup.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <utility>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/GroupAccess.h"
#include "foundation/PathName.h"
#include "foundation/SecurityDescriptor.h"
#include "kernel/HandleHolder.h"

namespace kv {

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                /*bIgnoreCase=*/TRUE) == CSTR_EQUAL;
}

// An entry as the listing of the folder that holds it gave it.
struct Listed {
  std::wstring name;
  DWORD attributes = 0;
  ULONGLONG id = 0;
};

// A file or folder held open, and what it is.
struct Opened {
  HandleHolder handle{INVALID_HANDLE_VALUE};
  std::wstring path;   // the path it was opened by: the base of its entries' paths
  std::wstring final;  // where the system says it is
  FileIdentity identity;
  DWORD attributes = 0;
  bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

constexpr DWORD kListAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// Opens `path` with `access`. A link at its end is opened as itself unless `followLink`;
// backup semantics let a folder be opened at all.
ResultChain Open(const std::wstring& path, bool followLink, DWORD access, Opened& opened) {
  // "C:" alone would be the drive's current folder.
  opened.path = path.size() == 2 && path[1] == L':' ? path + L"\\" : path;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  KV_RETURN_IF_FAILED(opened.handle.Attach(
      ::CreateFileW(LongPathForm(opened.path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, flags, /*hTemplateFile=*/nullptr)));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(opened.handle.Get(), &information)) return KV_MARK(LastErrorChain());
  opened.identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  opened.attributes = information.dwFileAttributes;
  opened.final = FinalPathOf(opened.handle.Get());
  return {};
}

// The entries of the folder held open (no "." or ".."), read through its handle.
ResultChain List(const Opened& folder, std::vector<Listed>& entries) {
  entries.clear();
  std::vector<ULONGLONG> buffer(64 * 1024 / sizeof(ULONGLONG));
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
    if (!::GetFileInformationByHandleEx(folder.handle.Get(), kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)))) {
      if (::GetLastError() == ERROR_NO_MORE_FILES) return {};
      return KV_MARK(LastErrorChain());
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(buffer.data());
    for (;;) {
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        entries.push_back({name, info->FileAttributes, static_cast<ULONGLONG>(info->FileId.QuadPart)});
      }
      if (info->NextEntryOffset == 0) break;
      bytes += info->NextEntryOffset;
    }
  }
}

// Opens the entry listed in `folder`, and only that: what opens must carry the listed
// identity on the folder's volume and lie, as the system resolves it, directly in the
// folder. A folder swapped for a link since the listing fails here (InvalidObject).
ResultChain OpenListed(const Opened& folder, const Listed& entry, Opened& opened) {
  const bool atRoot = folder.path.back() == L'\\';
  const DWORD access = kDeleteAccess | ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) ? kListAccess : 0);
  KV_RETURN_IF_FAILED(Open(folder.path + (atRoot ? L"" : L"\\") + entry.name, /*followLink=*/false, access, opened));
  const ULONGLONG id = (static_cast<ULONGLONG>(opened.identity.indexHigh) << 32) | opened.identity.indexLow;
  const bool rooted = !folder.final.empty() && folder.final.back() == L'\\';
  if (id != entry.id || opened.identity.volumeSerial != folder.identity.volumeSerial || folder.final.empty() ||
      !SameText(opened.final, folder.final + (rooted ? L"" : L"\\") + entry.name)) {
    return KV_MARK(err::InvalidObject);
  }
  return {};
}

// Deletes the entry held open, through its handle: a link goes as itself, a folder only
// when it is empty. Read-only is cleared first.
ResultChain DeleteOpened(Opened& entry) {
  const ErrorCode failure = entry.IsFolder() ? err::FailDeleteFolder : err::FailDeleteFile;
  if (entry.attributes & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.FileAttributes = entry.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(entry.handle.Get(), FileBasicInfo, &basic, sizeof basic)) {
      return KV_MARK(ResultChain(failure) + LastErrorChain());
    }
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (!::SetFileInformationByHandle(entry.handle.Get(), FileDispositionInfo, &disposition, sizeof disposition)) {
    return KV_MARK(ResultChain(failure) + LastErrorChain());
  }
  // The name goes when the last handle to it is closed.
  if (ResultChain closed = entry.handle.Close(); closed.Failed()) return KV_MARK(ResultChain(failure) + closed);
  return {};
}

// Deletes the folder held open with everything below it to `depth` levels, deepest
// first, holding every folder on the way down open. Iterative, so that a deep tree
// costs memory, not stack.
ResultChain DeleteTree(Opened root, int depth, const CleanupProbe& probe) {
  if (root.IsLink() || !root.IsFolder()) return KV_MARK(DeleteOpened(root));
  struct Level {
    Opened folder;
    std::vector<Listed> entries;
    std::size_t next = 0;
    int depthLeft = 0;
  };
  std::vector<Level> levels;
  auto enter = [&](Opened folder, int depthLeft) -> ResultChain {
    Level level{std::move(folder), {}, 0, depthLeft};
    if (ResultChain listed = List(level.folder, level.entries); listed.Failed()) {
      return KV_MARK(ResultChain(err::FailDeleteFolder) + listed);
    }
    if (probe) probe(level.folder.path);
    levels.push_back(std::move(level));
    return {};
  };
  KV_RETURN_IF_FAILED(enter(std::move(root), depth));
  while (!levels.empty()) {
    Level& top = levels.back();
    if (top.next == top.entries.size()) {
      KV_RETURN_IF_FAILED(DeleteOpened(top.folder));
      levels.pop_back();
      continue;
    }
    const Listed& entry = top.entries[top.next++];
    Opened child;
    KV_RETURN_IF_FAILED(OpenListed(top.folder, entry, child));
    if (child.IsFolder() && !child.IsLink() && top.depthLeft != 0) {
      const int depthLeft = top.depthLeft < 0 ? -1 : top.depthLeft - 1;
      KV_RETURN_IF_FAILED(enter(std::move(child), depthLeft));
    } else {
      KV_RETURN_IF_FAILED(DeleteOpened(child));
    }
  }
  return {};
}

}  // namespace

ResultChain SplitFolderNumber(const std::wstring& path, std::wstring& base, std::uint32_t& number) {
  PathName name(L"default");
  if (!path.empty()) {
    KV_RETURN_IF_FAILED(name.Set(path));
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
  Opened root;
  if (Open(folder, /*followLink=*/false, kDeleteAccess | kListAccess, root).Failed() || !root.IsFolder()) {
    return KV_MARK(err::FolderNotFound);
  }
  KV_RETURN_IF_FAILED(DeleteTree(std::move(root), depth, nullptr));
  return {};
}

namespace {

// The identities of the program's own folder and of every folder that holds it, on the
// path the system resolves it to: a folder link above it, or the program's folder being
// a link itself, must not hide that a sibling is, or contains, the installation.
ResultChain OwnFolderIdentities(const std::wstring& own, std::vector<FileIdentity>& identities) {
  FileIdentity identity;
  std::wstring resolved;
  KV_RETURN_IF_FAILED(IdentifyFile(own, identity, &resolved));
  identities.push_back(identity);
  std::wstring folder = NormalizePath(resolved.empty() ? own : resolved);
  for (;;) {
    const std::wstring up = NormalizePath(folder + L"\\..");
    if (up == folder) break;
    folder = up;
    if (IdentifyFile(folder, identity).Succeeded()) identities.push_back(identity);
  }
  return {};
}

// Whether the folder held open lets the broad groups plant entries in it.
ResultChain CheckParentIsClosed(const Opened& parent) {
  SecurityDescriptor descriptor;
  if (ResultChain read = descriptor.FromObject(parent.handle.Get(), SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
      read.Failed()) {
    return KV_MARK(ResultChain(err::InvalidParent) + read);
  }
  const GroupAccess access = JudgeGroupAccess(descriptor.Get());
  if (!access.write.empty() || !access.createFolders.empty()) return KV_MARK(err::InvalidParent);
  return {};
}

}  // namespace

ResultChain ProgramFolderCleanup(const std::wstring& programPath, const std::wstring& baseName) {
  return ProgramFolderCleanup(programPath, baseName, nullptr);
}

ResultChain ProgramFolderCleanup(const std::wstring& programPath, const std::wstring& baseName,
                                 const CleanupProbe& probe) {
  const std::wstring wanted = Lower(baseName);
  const std::wstring own = NormalizePath(programPath + L"\\..\\");
  const std::wstring parentPath = NormalizePath(programPath + L"\\..\\..\\");
  const std::wstring ownLower = Lower(own);

  std::wstring base;
  std::uint32_t number = 0;
  if (SplitFolderNumber(ownLower, base, number).Failed()) return KV_MARK(err::InvalidPath);
  base = Lower(base);
  if (base.empty() || (!wanted.empty() && base != wanted)) return KV_MARK(err::InvalidPath);

  // Names only say which folders look like copies; identities say which one is ours.
  // Without them nothing is deleted: a guess could take the running installation.
  std::vector<FileIdentity> keep;
  KV_RETURN_IF_FAILED(OwnFolderIdentities(own, keep));

  // The parent is where the installation is, links above it included; from here on
  // every sibling is reached through this handle's listing.
  Opened parent;
  KV_RETURN_IF_FAILED(Open(parentPath, /*followLink=*/true, kListAccess, parent));
  KV_RETURN_IF_FAILED(CheckParentIsClosed(parent));
  std::vector<Listed> siblings;
  KV_RETURN_IF_FAILED(List(parent, siblings));
  if (probe) probe(parentPath);

  std::vector<Listed> candidates;
  bool ownFound = false;
  for (const Listed& sibling : siblings) {
    if (!(sibling.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const std::wstring path = Lower(parentPath + L"\\" + sibling.name);
    std::wstring siblingBase;
    std::uint32_t siblingNumber = 0;
    if (SplitFolderNumber(path, siblingBase, siblingNumber).Failed() || Lower(siblingBase) != base) continue;
    if (path == ownLower) {
      ownFound = true;
    } else {
      candidates.push_back(sibling);
    }
  }
  if (!ownFound) return KV_MARK(err::InvalidPath);

  for (const Listed& candidate : candidates) {
    Opened sibling;
    if (OpenListed(parent, candidate, sibling).Failed()) continue;
    if (std::find(keep.begin(), keep.end(), sibling.identity) != keep.end()) continue;
    (void)DeleteTree(std::move(sibling), -1, probe);  // a sibling that cannot go whole keeps the rest
  }
  return {};
}

}  // namespace kv
