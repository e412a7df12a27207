#include "HostProcessTime.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "support/WinTestUtil.h"

namespace kv::bench {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::wstring ProcFolder(unsigned long pid) { return L"Z:\\proc\\" + std::to_wstring(pid); }

// The WINEPREFIX this program runs under, so that a process of another prefix with the
// same command line is not taken.
std::string OurPrefix() {
  char value[4096] = {};
  const DWORD n = ::GetEnvironmentVariableA("WINEPREFIX", value, sizeof(value));
  return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

}  // namespace

HostProcessTime::HostProcessTime(const std::wstring& program) {
  std::string wanted;
  for (wchar_t c : program) wanted += static_cast<char>(c < 0x80 ? c : '?');
  wanted = Lower(wanted);
  const std::string prefix = OurPrefix();
  const std::string prefixEntry = "WINEPREFIX=" + prefix + std::string(1, '\0');

  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(L"Z:\\proc\\*", &data);
  if (find == INVALID_HANDLE_VALUE) return;
  unsigned long found = 0;
  int matches = 0;
  do {
    wchar_t* end = nullptr;
    const unsigned long pid = std::wcstoul(data.cFileName, &end, 10);
    if (pid == 0 || *end != L'\0') continue;
    const std::string command = Lower(test::ReadFileBytes(ProcFolder(pid) + L"\\cmdline"));
    if (command.find(wanted) == std::string::npos) continue;
    if (!prefix.empty() && test::ReadFileBytes(ProcFolder(pid) + L"\\environ").find(prefixEntry) == std::string::npos) {
      continue;
    }
    found = pid;
    ++matches;
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  if (matches == 1) pid_ = found;
}

std::int64_t HostProcessTime::Nanoseconds() const {
  if (pid_ == 0) return -1;
  const std::wstring tasks = ProcFolder(pid_) + L"\\task";
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((tasks + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return -1;
  std::int64_t total = 0;
  do {
    if (data.cFileName[0] < L'0' || data.cFileName[0] > L'9') continue;
    // First field: time spent on a processor, in nanoseconds.
    const std::string stat = test::ReadFileBytes(tasks + L"\\" + data.cFileName + L"\\schedstat");
    total += std::strtoll(stat.c_str(), nullptr, 10);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return total;
}

}  // namespace kv::bench
