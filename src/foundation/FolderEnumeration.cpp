#include "foundation/FolderEnumeration.h"

#include <windows.h>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/PathName.h"

namespace kv {

namespace {

bool IsDotEntry(const WIN32_FIND_DATAW& data) {
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  const std::wstring_view name = data.cFileName;
  return name == L"." || name == L"..";
}

}  // namespace

ResultChain FolderEnumeration::Start(const std::wstring& folder, int depth, bool descendReparsePoints) {
  find_.Reset();
  currentLevel_.clear();
  nextLevel_.clear();
  name_.clear();
  attributes_ = 0;
  size_ = 0;
  pending_ = false;
  started_ = false;
  lastError_ = ERROR_NO_MORE_FILES;

  // Resolved once, as the system does, so that the folder checked is the folder listed
  // (a text canonicalised on its own could drop a leading "\" or ".." and name another).
  const std::wstring listed = NormalizePath(FullPathName(folder));
  if (listed.empty()) return KV_MARK(err::InvalidPath);
  const DWORD attributes = ::GetFileAttributesW(LongPathForm(listed).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return KV_MARK(err::InvalidPath);
  }
  depth_ = depth;
  descendReparsePoints_ = descendReparsePoints;
  bool found = false;
  ResultChain chain = OpenFolder(listed, found);
  if (chain.Failed()) return KV_MARK(chain);
  started_ = true;
  pending_ = found;
  return {};
}

ResultChain FolderEnumeration::Next() {
  if (!started_) return KV_MARK(err::HandleNotEnabled);
  if (pending_) {
    pending_ = false;
    return {};
  }
  for (;;) {
    if (find_.IsOpen()) {
      WIN32_FIND_DATAW data;
      while (::FindNextFileW(find_.Get(), &data)) {
        if (IsDotEntry(data)) continue;
        TakeEntry(&data);
        return {};
      }
      lastError_ = ::GetLastError();
      find_.Reset();
    }
    if (currentLevel_.empty()) {
      if (nextLevel_.empty() || depth_ == 0) break;
      if (depth_ > 0) --depth_;
      currentLevel_.swap(nextLevel_);
      nextLevel_.clear();
    }
    const std::wstring folder = std::move(currentLevel_.front());
    currentLevel_.pop_front();
    // A subfolder that vanished or cannot be listed is passed over, not the end.
    bool found = false;
    if (!OpenFolder(folder, found).Failed() && found) return {};
  }
  // Every later call reports the end again.
  const ErrorCode system = lastError_ != NO_ERROR ? lastError_ : ERROR_NO_MORE_FILES;
  return KV_MARK(ResultChain(system) + err::FailFindNext + err::NoMoreFile);
}

std::wstring FolderEnumeration::FullPath() const { return folder_ + L"\\" + name_; }

bool FolderEnumeration::IsFolder() const { return (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0; }

ResultChain FolderEnumeration::OpenFolder(const std::wstring& folder, bool& found) {
  found = false;
  find_.Reset();
  folder_ = folder;
  const std::wstring pattern = LongPathForm(folder + L"\\*.*");
  WIN32_FIND_DATAW data;
  HANDLE handle = ::FindFirstFileW(pattern.c_str(), &data);
  if (handle == INVALID_HANDLE_VALUE) {
    ResultChain chain = LastErrorChain();
    return chain.Failed() ? chain : ResultChain(ERROR_PATH_NOT_FOUND);
  }
  find_.Reset(handle);
  for (;;) {
    if (!IsDotEntry(data)) {
      TakeEntry(&data);
      found = true;
      return {};
    }
    if (!::FindNextFileW(handle, &data)) {
      lastError_ = ::GetLastError();
      find_.Reset();
      return {};
    }
  }
}

void FolderEnumeration::TakeEntry(const void* findData) {
  const auto& data = *static_cast<const WIN32_FIND_DATAW*>(findData);
  name_ = data.cFileName;
  attributes_ = data.dwFileAttributes;
  size_ = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  const bool folder = (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool reparse = (attributes_ & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // A junction or link may lead back up the tree or to another volume: not followed
  // unless the caller asks.
  if (folder && (descendReparsePoints_ || !reparse)) nextLevel_.push_back(FullPath());
}

}  // namespace kv
