// FolderEnumeration: lists a folder and, level by level, its subfolders.
//
// Breadth-first: every entry of the start folder comes first, then the entries of its
// subfolders in the order they were found, and so on. Depth 0 lists the start folder
// only, a positive depth that many levels below it, a negative depth every level.
// Folders that are reparse points (junctions, links) are listed but not descended into
// unless asked. Owns its find handle; one thread at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "foundation/FindHandle.h"
#include "foundation/ResultChain.h"

namespace kv {

class FolderEnumeration {
 public:
  FolderEnumeration() = default;
  ~FolderEnumeration() = default;
  FolderEnumeration(const FolderEnumeration&) = delete;
  FolderEnumeration& operator=(const FolderEnumeration&) = delete;

  // Starts listing `folder`, resolved to its full path first (a relative or rooted text
  // as the system resolves it). InvalidPath when it is not an existing directory. An
  // empty folder still starts; the first Next then reports the end.
  ResultChain Start(const std::wstring& folder, int depth, bool descendReparsePoints = false);

  // Moves to the next entry; the first call after Start delivers the entry Start found.
  // At the end: a chain holding the system code, FailFindNext and NoMoreFile. Loop
  // while it succeeds and treat a chain containing NoMoreFile as the normal end.
  ResultChain Next();

  // The current entry: folder + "\" + name.
  std::wstring FullPath() const;
  const std::wstring& Name() const { return name_; }
  // The folder being listed (a full path, normalised, no trailing separator).
  const std::wstring& Folder() const { return folder_; }
  std::uint32_t Attributes() const { return attributes_; }
  std::uint64_t Size() const { return size_; }
  bool IsFolder() const;

 private:
  // Lists `folder` and makes its first entry current (found = false when it has none).
  ResultChain OpenFolder(const std::wstring& folder, bool& found);
  // Records the entry in `findData` (a WIN32_FIND_DATAW) and queues it when it is a
  // folder to descend into.
  void TakeEntry(const void* findData);

  FindHandle find_;
  std::wstring folder_;
  std::wstring name_;
  std::uint32_t attributes_ = 0;
  std::uint64_t size_ = 0;
  int depth_ = 0;
  std::deque<std::wstring> currentLevel_;
  std::deque<std::wstring> nextLevel_;
  bool pending_ = false;
  bool descendReparsePoints_ = false;
  bool started_ = false;
  unsigned long lastError_ = 0;  // the system's reason the last listing ended
};

}  // namespace kv
