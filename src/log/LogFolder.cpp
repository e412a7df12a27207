#include "log/LogFolder.h"

#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"
#include "kernel/InstanceSuffix.h"

namespace kv {

DWORD FolderCalls::Attributes(const std::wstring& path, DWORD& error) {
  const DWORD attributes = ::GetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str());
  error = attributes == INVALID_FILE_ATTRIBUTES ? ::GetLastError() : 0;
  return attributes;
}

bool FolderCalls::CreateFolder(const std::wstring& path) {
  // Others read the log: Users may list and read it.
  const ResultChain made = CreateOwnFolder(path, Readers::Users);
  if (made.Failed()) ::SetLastError(made.Last());
  return !made.Failed();
}

namespace {

// Components split at "\" and "/", without empty and "." ones; ".." takes the one
// before it with it, but the first (drive or server) is never removed.
std::vector<std::wstring> PathComponents(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring current;
  auto flush = [&] {
    if (current.empty() || current == L".") {
    } else if (current == L"..") {
      if (parts.size() > 1) parts.pop_back();
    } else {
      parts.push_back(current);
    }
    current.clear();
  };
  for (wchar_t c : path) {
    if (c == L'\\' || c == L'/') {
      flush();
    } else {
      current += c;
    }
  }
  flush();
  return parts;
}

bool StartsWithTwoBackslashes(const std::wstring& text) {
  return text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\';
}

}  // namespace

ResultChain CreateFolders(const std::wstring& path, bool lastMayBeFile) {
  FolderCalls calls;
  return CreateFolders(path, lastMayBeFile, calls);
}

ResultChain CreateFolders(const std::wstring& path, bool lastMayBeFile, FolderCalls& calls) {
  DWORD error = 0;
  if (calls.Attributes(path, error) != INVALID_FILE_ATTRIBUTES) return {};
  if (path.size() < 2) return KV_MARK(err::InvalidPath);
  const std::wstring prefix = StartsWithTwoBackslashes(path) ? L"\\\\" : L"";
  std::vector<std::wstring> parts = PathComponents(path);
  if (parts.size() < 2) return KV_MARK(err::InvalidPath);
  if (lastMayBeFile && parts.back().find(L'.') != std::wstring::npos) parts.pop_back();

  std::wstring running;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    running += parts[i];
    running += L'\\';
    if (i == 0) continue;  // the drive or the server name
    std::wstring candidate = prefix + running;
    if (candidate.size() > 2 && !StartsWithTwoBackslashes(candidate)) candidate = L"\\\\?\\" + candidate;
    if (calls.Attributes(candidate, error) == INVALID_FILE_ATTRIBUTES && error == ERROR_FILE_NOT_FOUND) {
      if (!calls.CreateFolder(candidate)) return KV_MARK(err::CannotCreateFolder);
    }
  }
  return {};
}

std::wstring StopEventName() { return L"EventStopEvent_" + InstanceSuffix(); }

ResultChain CreateStopEvent(HandleHolder& holder, ForeignObject& refused) {
  ResultChain created = CreateServiceEvent(StopEventName(), holder, refused);
  if (created.Failed()) return KV_MARK(created);
  return {};
}

}  // namespace kv
