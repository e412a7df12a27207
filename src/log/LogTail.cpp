#include "log/LogTail.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string_view>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/FindHandle.h"
#include "foundation/TextEncoding.h"
#include "kernel/HandleHolder.h"

namespace kv {

namespace {

// "Kv_" four digits "_" two digits ".txt", the name MonthlyLog gives a month's file.
bool IsMonthFileName(std::wstring_view name) {
  constexpr std::wstring_view kPattern = L"Kv_0000_00.txt";
  if (name.size() != kPattern.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (kPattern[i] == L'0' ? !std::iswdigit(name[i]) : std::towlower(name[i]) != std::towlower(kPattern[i])) {
      return false;
    }
  }
  return true;
}

bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The section name of a record's header line: what stands between "[" and "]".
std::wstring SectionName(const std::wstring& text) {
  const std::size_t close = text.find(L']');
  const std::size_t lineEnd = text.find_first_of(L"\r\n");
  if (close == std::wstring::npos || (lineEnd != std::wstring::npos && close > lineEnd)) return {};
  return text.substr(1, close - 1);
}

}  // namespace

std::vector<std::wstring> MonthFilesNewestFirst(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  FindHandle find;
  HANDLE first = ::FindFirstFileW(LongPathForm(folder + L"\\Kv_*.txt").c_str(), &entry);
  if (first == INVALID_HANDLE_VALUE) return names;
  find.Reset(first);
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsMonthFileName(entry.cFileName)) {
      names.push_back(entry.cFileName);
    }
  } while (::FindNextFileW(find.Get(), &entry));
  // Year and month have fixed widths: the names sort as the months do.
  std::sort(names.begin(), names.end(),
            [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) > 0; });
  for (std::wstring& name : names) name = folder + L"\\" + name;
  return names;
}

ResultChain ReadRecordsBackwards(const std::wstring& path, const LogRecordVisitor& visit, bool& stopped,
                                 std::uint32_t blockSize) {
  stopped = false;
  HandleHolder file(INVALID_HANDLE_VALUE);
  DWORD openError = 0;
  if (file.Attach(::CreateFileW(LongPathForm(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr),
                  &openError)
          .Failed()) {
    return IsNotFound(openError) ? KV_MARK(err::FileNotFound) : KV_MARK(ResultChain(openError));
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) return KV_MARK(LastErrorChain());
  if (blockSize == 0) blockSize = 64 * 1024;

  // `pending` holds bytes from `position` on that belong to records not yet visited: the
  // front of the block just read and, after it, the start of the record it cut.
  std::uint64_t position = static_cast<std::uint64_t>(size.QuadPart);
  std::string pending;
  while (position > 0) {
    const std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSize, position));
    position -= count;
    std::string block(count, '\0');
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD read = 0;
    if (!::ReadFile(file.Get(), block.data(), count, &read, &at)) return KV_MARK(LastErrorChain());
    if (read != count) return KV_MARK(ResultChain(ERROR_HANDLE_EOF));  // cut short by another program
    pending.insert(0, block);

    // A record starts with "[" at the start of a line. After a line feed comes the first
    // byte of a character even in a double-byte code page, so the bytes can be searched
    // before they are decoded. The first byte of the block counts only at the file's start.
    std::size_t end = pending.size();
    for (std::size_t i = pending.size(); i-- > 0;) {
      if (pending[i] != '[') continue;
      if (i == 0 ? position != 0 : pending[i - 1] != '\n') continue;
      LogRecord record;
      const bool decoded = !NarrowToWide(pending.data() + i, end - i, CP_ACP, 0, record.text).Failed();
      end = i;
      if (!decoded) continue;
      record.name = SectionName(record.text);
      record.file = path;
      if (!visit(record)) {
        stopped = true;
        return {};
      }
    }
    pending.resize(end);
  }
  return {};
}

ResultChain ReadLogBackwards(const std::wstring& folder, const LogRecordVisitor& visit) {
  for (const std::wstring& path : MonthFilesNewestFirst(folder)) {
    bool stopped = false;
    const ResultChain read = ReadRecordsBackwards(path, visit, stopped);
    if (read.Failed() && !read.Contains(err::FileNotFound)) return KV_MARK(read);
    if (stopped) break;
  }
  return {};
}

}  // namespace kv
