#include "support/WinTestUtil.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "foundation/GroupAccess.h"
#include "foundation/SecurityDescriptor.h"
#include "foundation/TextEncoding.h"
#include "support/StartService.h"

namespace kv::test {

std::wstring ProgramFolder() {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring path(buffer.data(), n);
  return path.substr(0, path.find_last_of(L"\\/"));
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(child);
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::RemoveDirectoryW(child.c_str());
      } else {
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(path.c_str());
}

std::wstring FreshFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring path = std::wstring(temp) + L"kvtest_" + name;
  RemoveTree(path);
  ::CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = bytes.empty() || ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
  // Sharing delete too: a test polling a file must not stop the service from renaming
  // a new one over it.
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  ::CloseHandle(file);
  return bytes;
}

std::string MonthFilesContent(const std::wstring& logFolder) {
  std::string all;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((logFolder + L"\\Kv_*.txt").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return all;
  do all += ReadFileBytes(logFolder + L"\\" + data.cFileName);
  while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return all;
}

std::vector<std::wstring> FolderListing(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE found = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (found == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(found, &entry));
  ::FindClose(found);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// The host's path of a Windows path under Wine; empty elsewhere.
std::string UnixPathOf(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  // Through void*: a FARPROC converts to no other function type without a warning.
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return {};
  char* unixPath = toUnix(path.c_str());
  if (unixPath == nullptr) return {};
  std::string result = unixPath;
  ::HeapFree(::GetProcessHeap(), 0, unixPath);
  return result;
}

// Starts a program of the host (Wine's "start /unix"), then waits until `done` holds:
// Wine hands back no process that could be waited for, so the effect is what is waited
// for (at most 20 s).
template <typename Done>
bool RunOnHostUntil(const std::wstring& arguments, Done done) {
  std::wstring command = L"start.exe /unix " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::kv::test::CreateProcessRetrying(command.data(), FALSE, CREATE_NO_WINDOW, &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    ::Sleep(20);
  }
  return done();
}

std::wstring Quoted(const std::string& text) { return L"\"" + std::wstring(text.begin(), text.end()) + L"\""; }

// The host's path of `path`, whose last name need not exist yet.
std::string UnixPathOfNew(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L'\\');
  const std::string folder = UnixPathOf(path.substr(0, slash));
  if (folder.empty()) return {};
  return folder + "/" + std::string(path.begin() + static_cast<std::ptrdiff_t>(slash + 1), path.end());
}

}  // namespace

bool MakeFolderLink(const std::wstring& target, const std::wstring& link) {
  auto isFolder = [&link] {
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  };
  const std::string unixTarget = UnixPathOf(target);
  if (unixTarget.empty()) {
    ::CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    return isFolder();
  }
  // -n: an existing link at that name is replaced, never entered.
  return RunOnHostUntil(L"/bin/ln -sfn " + Quoted(unixTarget) + L" " + Quoted(UnixPathOfNew(link)), isFolder);
}

void RemoveFolderLink(const std::wstring& link) {
  // Wine removes no host link through the Windows calls.
  const std::string unixLink = UnixPathOfNew(link);
  if (unixLink.empty()) {
    ::RemoveDirectoryW(link.c_str());
    return;
  }
  RunOnHostUntil(L"/bin/rm -f " + Quoted(unixLink),
                 [&link] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

std::wstring ObjectSddl(void* object) {
  constexpr SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  LPWSTR text = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, parts, nullptr, nullptr, nullptr, nullptr, &descriptor) != 0) return {};
  const bool ok = ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, &text, nullptr);
  const std::wstring result = ok ? text : L"";
  ::LocalFree(text);
  ::LocalFree(descriptor);
  return result;
}

std::wstring CanonicalSddl(const std::wstring& sddl) {
  SecurityDescriptor descriptor;
  return descriptor.FromSddl(sddl).Failed() ? L"(invalid) " + sddl
                                            : descriptor.ToSddl(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
}

bool UnderWine() { return !UnixPathOf(L"C:\\").empty(); }

bool EveryoneMay(const std::wstring& path, bool write) {
  HANDLE file = ::CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  SecurityDescriptor descriptor;
  const bool read = file != INVALID_HANDLE_VALUE &&
                    descriptor.FromObject(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION).Succeeded();
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  const GroupAccess access = JudgeGroupAccess(read ? descriptor.Get() : nullptr);
  const std::vector<std::wstring>& names = write ? access.write : access.read;
  return std::find(names.begin(), names.end(), L"Everyone") != names.end();
}

bool LetEveryone(const std::wstring& path, bool write, bool let) {
  auto granted = [&] { return EveryoneMay(path, write) == let; };
  const std::string unixPath = UnixPathOf(path);
  const wchar_t* mode = let ? (write ? L"o+rwx " : L"o+r ") : (write ? L"o-w " : L"o-r ");
  if (!unixPath.empty()) return RunOnHostUntil(L"/bin/chmod " + std::wstring(mode) + Quoted(unixPath), granted);
  SecurityDescriptor open;
  return open.FromSddl(!let    ? L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
                       : write ? L"D:(A;OICI;FA;;;WD)"
                               : L"D:(A;OICI;FR;;;WD)")
             .Succeeded() &&
         ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, open.Get()) && granted();
}

std::string Narrow(const std::wstring& text, unsigned codePage) {
  std::string bytes;
  // A text that cannot be converted gives empty bytes, as promised above; the test then
  // fails on what it compares or writes.
  (void)WideToNarrow(text, codePage, 0, bytes);
  return bytes;
}

std::string LocalStamp(std::int32_t value) {
  const std::time_t wide = value;
  const std::tm* local = std::localtime(&wide);
  const std::tm fields = local != nullptr ? *local : std::tm{};
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday,
                fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

std::string LocalDate(int offsetDays, bool dashes) {
  const std::time_t now = std::time(nullptr);
  std::tm day = *std::localtime(&now);
  day.tm_mday += offsetDays;  // mktime carries it into the month and year
  day.tm_hour = 12;
  day.tm_isdst = -1;
  std::mktime(&day);
  char text[16];
  std::snprintf(text, sizeof text, dashes ? "%04d-%02d-%02d" : "%04d%02d%02d", day.tm_year + 1900, day.tm_mon + 1,
                day.tm_mday);
  return text;
}

}  // namespace kv::test
