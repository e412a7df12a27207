#include "log/AppendFile.h"

#include <windows.h>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"
#include "kernel/HandleHolder.h"

namespace kv {

namespace {

constexpr int kOpenAttempts = 6;
constexpr DWORD kSharingRetryMs = 250;

// Removes a torn tail [size, size + written) left by a failed write, but only when the
// file still ends exactly there: another writer's data after it must not be cut.
void CutTornTail(const std::wstring& path, LARGE_INTEGER size, DWORD written) {
  HandleHolder file(INVALID_HANDLE_VALUE);
  // A file that cannot be opened is not cut: the tail stays torn, nothing else is lost.
  (void)file.Attach(OpenForWriting(path, GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, Readers::Users));
  if (!file.IsOpen()) return;
  LARGE_INTEGER now{};
  if (!::GetFileSizeEx(file.Get(), &now) || now.QuadPart != size.QuadPart + written) return;
  if (::SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN)) ::SetEndOfFile(file.Get());
}

}  // namespace

ResultChain AppendToFile(const std::wstring& path, std::string_view bytes) {
  if (bytes.empty()) return {};
  if (bytes.size() > MAXDWORD) return KV_MARK(err::InvalidArgument);
  const std::wstring target = LongPathForm(path);

  HandleHolder file(INVALID_HANDLE_VALUE);
  for (int attempt = 1;; ++attempt) {
    // Append-only access: every write lands at the current end of the file, whoever
    // else has it open, and nothing before that end can be changed through this handle.
    HANDLE h = OpenForWriting(target, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, Readers::Users);
    if (h != INVALID_HANDLE_VALUE) {
      (void)file.Attach(h);  // a valid handle is always taken
      break;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION || attempt >= kOpenAttempts) return KV_MARK(ResultChain(error));
    ::Sleep(kSharingRetryMs);
  }

  LARGE_INTEGER before{};
  const bool knowSize = ::GetFileSizeEx(file.Get(), &before) != FALSE;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  if (ok && written == bytes.size()) return {};
  ResultChain failure = KV_MARK(ok ? ResultChain(ERROR_WRITE_FAULT) : LastErrorChain());
  // The write's failure is the one reported; the handle is given up either way.
  (void)file.Close();
  if (knowSize && written > 0) CutTornTail(target, before, written);
  return failure;
}

}  // namespace kv
