#include "defset/FileTransfer.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "defset/EngineCodes.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"
#include "foundation/WholeFile.h"
#include "scan/FolderCleanup.h"

namespace kv::refengine {

namespace {

constexpr DWORD kChunkBytes = 64 * 1024;
constexpr std::uint64_t kMaxSmallFile = 1024 * 1024;

ResultChain OpenFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, HandleHolder& file) {
  HANDLE h = ::CreateFileW(LongPathForm(path).c_str(), access, share, /*lpSecurityAttributes=*/nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr);
  if (h == INVALID_HANDLE_VALUE) return KV_MARK(LastErrorChain());
  (void)file.Attach(h);  // a valid handle is always taken
  return {};
}

ResultChain OpenForReading(const std::wstring& path, HandleHolder& file) {
  return OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, file);
}

// The definitions are read by whatever scans with them: Users may read them.
ResultChain OpenNewForWriting(const std::wstring& path, HandleHolder& file) {
  HANDLE h = OpenForWriting(path, GENERIC_WRITE, /*share=*/0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                            Readers::Users);
  if (h == INVALID_HANDLE_VALUE) return KV_MARK(LastErrorChain());
  (void)file.Attach(h);  // a valid handle is always taken
  return {};
}

// Staged files must be on the disk before the folder that holds them is swapped in.
ResultChain FlushAndClose(HandleHolder& file) {
  if (!::FlushFileBuffers(file.Get())) return KV_MARK(LastErrorChain());
  KV_RETURN_IF_FAILED(file.Close());
  return {};
}

}  // namespace

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::wstring& path) {
  return ::GetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str()) != INVALID_FILE_ATTRIBUTES;
}

ResultChain ReadWholeFile(const std::wstring& path, std::string& bytes) {
  return ReadWholeFile(path, bytes, kMaxSmallFile, err::SizelimitOver);
}

ResultChain ReadWholeFile(const std::wstring& path, std::string& bytes, std::uint64_t maxBytes, ErrorCode tooLong) {
  bytes.clear();
  HandleHolder file(INVALID_HANDLE_VALUE);
  KV_RETURN_IF_FAILED(OpenForReading(path, file));
  KV_RETURN_IF_FAILED(ReadToEnd(file.Get(), [&](const char* data, std::size_t size) -> ResultChain {
    if (size > maxBytes - bytes.size()) return KV_MARK(tooLong);
    bytes.append(data, size);
    return {};
  }));
  return {};
}

ResultChain FileReader::Open(const std::wstring& path) {
  return KV_MARK(OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, file_));
}

ResultChain FileReader::Size(std::uint64_t& size) const {
  LARGE_INTEGER value{};
  if (!::GetFileSizeEx(file_.Get(), &value)) return KV_MARK(LastErrorChain());
  size = static_cast<std::uint64_t>(value.QuadPart);
  return {};
}

ResultChain FileReader::ReadAt(std::uint64_t offset, char* data, std::size_t size) const {
  for (std::size_t done = 0; done < size;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - done, kChunkBytes));
    DWORD got = 0;
    if (!::ReadFile(file_.Get(), data + done, piece, &got, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) return KV_MARK(FileSizeMismatch);
      return KV_MARK(LastErrorChain());
    }
    if (got == 0) return KV_MARK(FileSizeMismatch);
    done += got;
  }
  return {};
}

ResultChain FileReader::Stream(std::uint64_t first, std::uint64_t count,
                               const std::function<ResultChain(const char*, std::size_t)>& sink) const {
  std::vector<char> piece(kChunkBytes);
  for (std::uint64_t done = 0; done < count;) {
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, piece.size()));
    KV_RETURN_IF_FAILED(ReadAt(first + done, piece.data(), size));
    KV_RETURN_IF_FAILED(sink(piece.data(), size));
    done += size;
  }
  return {};
}

ResultChain NewFile::Create(const std::wstring& path) {
  KV_RETURN_IF_FAILED(OpenNewForWriting(path, file_));
  return {};
}

ResultChain NewFile::Write(const char* data, std::size_t size) {
  KV_RETURN_IF_FAILED(WriteAll(file_.Get(), std::string_view(data, size)));
  return {};
}

ResultChain NewFile::Finish() {
  KV_RETURN_IF_FAILED(FlushAndClose(file_));
  return {};
}

ResultChain WriteNewFile(const std::wstring& path, const std::string& bytes) {
  NewFile file;
  KV_RETURN_IF_FAILED(file.Create(path));
  KV_RETURN_IF_FAILED(file.Write(bytes.data(), bytes.size()));
  KV_RETURN_IF_FAILED(file.Finish());
  return {};
}

ResultChain ReplaceWholeFile(const std::wstring& target, const std::string& bytes) {
  const std::wstring temporary = FormatText(L"%s.%lu.tmp", target.c_str(), ::GetCurrentProcessId());
  ::DeleteFileW(LongPathForm(temporary).c_str());
  if (const ResultChain written = WriteNewFile(temporary, bytes); written.Failed()) {
    ::DeleteFileW(LongPathForm(temporary).c_str());
    return KV_MARK(written);
  }
  if (!::MoveFileExW(LongPathForm(temporary).c_str(), LongPathForm(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const ResultChain moved = KV_MARK(LastErrorChain());
    ::DeleteFileW(LongPathForm(temporary).c_str());
    return moved;
  }
  return {};
}

ResultChain ReplaceWithUtf8Text(const std::wstring& target, const std::wstring& text) {
  std::string bytes;
  KV_RETURN_IF_FAILED(WideToNarrow(text, CP_UTF8, 0, bytes));
  KV_RETURN_IF_FAILED(ReplaceWholeFile(target, "\xEF\xBB\xBF" + bytes));
  return {};
}

ResultChain CopyToNewFile(const std::wstring& from, const std::wstring& to, std::uint64_t maxBytes,
                          std::uint64_t& copied, Digest256* digest) {
  copied = 0;
  HandleHolder source(INVALID_HANDLE_VALUE);
  KV_RETURN_IF_FAILED(OpenForReading(from, source));
  NewFile target;
  KV_RETURN_IF_FAILED(target.Create(to));
  Sha256 hash;
  KV_RETURN_IF_FAILED(ReadToEnd(source.Get(), [&](const char* data, std::size_t size) -> ResultChain {
    if (size > maxBytes - copied) return KV_MARK(FileSizeMismatch);
    KV_RETURN_IF_FAILED(target.Write(data, size));
    if (digest != nullptr) hash.Update(data, size);
    copied += size;
    return {};
  }));
  KV_RETURN_IF_FAILED(target.Finish());
  if (digest != nullptr) *digest = hash.Finish();
  return {};
}

ResultChain UnreadableFile(const ResultChain& cause) {
  const ErrorCode code = cause.Last();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_BAD_NETPATH) {
    return ResultChain(err::UncFileNotFound) + cause;
  }
  return cause;
}

ResultChain DigestOfFile(const std::wstring& path, std::uint64_t& size, Digest256& digest) {
  size = 0;
  HandleHolder file(INVALID_HANDLE_VALUE);
  KV_RETURN_IF_FAILED(OpenForReading(path, file));
  Sha256 hash;
  KV_RETURN_IF_FAILED(ReadToEnd(file.Get(), [&](const char* data, std::size_t piece) -> ResultChain {
    hash.Update(data, piece);
    size += piece;
    return {};
  }));
  digest = hash.Finish();
  return {};
}

ResultChain RemoveFolderTree(const std::wstring& path) {
  if (::GetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  KV_RETURN_IF_FAILED(DeleteFolderTree(path, -1));
  return {};
}

}  // namespace kv::refengine
