#include "scan/GuardedFolders.h"

#include <windows.h>

#include <algorithm>

#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/GroupAccess.h"
#include "foundation/PathName.h"

namespace kv {

namespace {

std::wstring ParentOf(const std::wstring& path) { return NormalizePath(path + L"\\.."); }

void Add(std::vector<GuardedFolder>& folders, const std::wstring& path, bool creationMatters) {
  if (path.empty()) return;
  for (GuardedFolder& folder : folders) {
    if (_wcsicmp(folder.path.c_str(), path.c_str()) == 0) {
      folder.creationMatters = folder.creationMatters || creationMatters;
      return;
    }
  }
  folders.push_back({path, creationMatters});
}

}  // namespace

std::wstring BesideProgram(const std::wstring& programFolder, const std::wstring& value) {
  if (value.empty()) return value;
  if (!SplitPath(value).drive.empty() || value.rfind(L"\\\\", 0) == 0) return NormalizePath(value);
  const std::size_t first = value.find_first_not_of(L"\\/");
  return NormalizePath(programFolder + L"\\" + (first == std::wstring::npos ? std::wstring() : value.substr(first)));
}

std::vector<GuardedFolder> GuardedFolders(const std::wstring& programFolder, IniDocument& config) {
  std::vector<GuardedFolder> folders;
  const std::wstring program = NormalizePath(programFolder);
  Add(folders, program, true);
  // Creating a folder beside it (as any user may under C:\) replaces nothing.
  Add(folders, ParentOf(program), false);
  const std::wstring engine = BesideProgram(program, config.GetString(L"ScanDll", L"", L"Setting"));
  if (!engine.empty()) Add(folders, ParentOf(engine), true);
  const std::wstring definitions = BesideProgram(program, config.GetString(L"DefDatFolder", L"", L"AntiVirus"));
  if (!definitions.empty()) Add(folders, ParentOf(definitions), true);
  const std::wstring log = BesideProgram(program, config.GetString(L"LogFolder", L"", L"Setting"));
  if (!log.empty()) Add(folders, ParentOf(log), true);
  return folders;
}

ResultChain CheckGuardedFolders(const std::vector<GuardedFolder>& folders, UnsafeFolder& unsafe) {
  for (const GuardedFolder& folder : folders) {
    GroupAccess access;
    const ResultChain read = JudgeFileAccess(folder.path, access);
    if (read.Failed()) {
      const ErrorCode error = read.Last();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
      unsafe = {folder.path, {}};
      return KV_MARK(read + err::InvalidFolder);
    }
    std::vector<std::wstring> writers = access.write;
    if (folder.creationMatters) {
      for (const std::wstring& name : access.createFolders) {
        if (std::find(writers.begin(), writers.end(), name) == writers.end()) writers.push_back(name);
      }
    }
    if (!writers.empty()) {
      unsafe = {folder.path, std::move(writers)};
      return KV_MARK(ResultChain(err::AccessDenied) + err::InvalidFolder);
    }
  }
  return {};
}

}  // namespace kv
