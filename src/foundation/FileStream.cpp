#include "foundation/FileStream.h"

#include <windows.h>

#include <cstdint>
#include <utility>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"

namespace kv {

namespace {

constexpr std::wstring_view kLongPathPrefix = L"\\\\?\\";

bool IsReadMode(std::wstring_view mode) { return !mode.empty() && mode[0] == L'r'; }
bool IsWriteMode(std::wstring_view mode) { return !mode.empty() && (mode[0] == L'w' || mode[0] == L'a'); }

}  // namespace

FileStream::~FileStream() { (void)Close(); }  // nothing to report to

FileStream::FileStream(FileStream&& other) noexcept
    : path_(std::move(other.path_)),
      mode_(std::move(other.mode_)),
      openedName_(std::move(other.openedName_)),
      stream_(std::exchange(other.stream_, nullptr)) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
  if (this != &other) {
    (void)Close();  // nothing to report to; the stream is given up
    path_ = std::move(other.path_);
    mode_ = std::move(other.mode_);
    openedName_ = std::move(other.openedName_);
    stream_ = std::exchange(other.stream_, nullptr);
  }
  return *this;
}

ResultChain FileStream::Open(std::wstring_view path, std::wstring_view mode) { return OpenFor(path, mode, Use::Any); }

ResultChain FileStream::OpenRead(std::wstring_view path, std::wstring_view mode) {
  return OpenFor(path, mode, Use::Read);
}

ResultChain FileStream::OpenWrite(std::wstring_view path, std::wstring_view mode) {
  return OpenFor(path, mode, Use::Write);
}

ResultChain FileStream::OpenFor(std::wstring_view path, std::wstring_view mode, Use use) {
  const bool suits = use == Use::Read    ? IsReadMode(mode)
                     : use == Use::Write ? IsWriteMode(mode)
                                         : IsReadMode(mode) || IsWriteMode(mode);
  if (!suits) return KV_MARK(err::InvalidMode);
  (void)Close();  // the old stream is given up either way
  openedName_.clear();

  // A relative path is taken from the program's folder; the canonical form is what the
  // "\\?\" prefix needs, as the system no longer resolves "." and ".." behind it.
  PathName name(path);
  ResultChain chain = name.SetFullPath(NormalizePath(name.FullPath()));
  if (chain.Failed()) return KV_MARK(chain);
  std::wstring full = name.FullPath();
  if (full.size() <= 1) return KV_MARK(err::InvalidPath);
  // A share path keeps its usual form unless it is long: then "\\?\UNC\" too.
  if (full[0] == L'\\' && full[1] == L'\\') {
    full = LongPathForm(full);
  } else {
    full.insert(0, kLongPathPrefix);
  }

  path_ = std::move(name);
  mode_.assign(mode);
  openedName_ = full;
  stream_ = ::_wfopen(full.c_str(), mode_.c_str());
  if (stream_ == nullptr) return KV_MARK(err::CannotOpenFile);
  return {};
}

ResultChain FileStream::ReadAll(std::string& bytes) { return ReadAll(bytes, &FileSize); }

ResultChain FileStream::ReadAll(std::string& bytes, SizeQuery sizeQuery) {
  if (stream_ == nullptr || !IsReadMode(mode_)) return KV_MARK(err::InvalidMode);
  if (sizeQuery == nullptr) return KV_MARK(err::InvalidArgumentNullPointer);
  std::uint64_t size = 0;
  // An unreadable size is a failure, never an empty file: a caller that rewrites the
  // file from what it read would otherwise wipe it.
  ResultChain chain = sizeQuery(openedName_, size);
  if (chain.Failed()) return KV_MARK(chain);
  if (size >= 0xFFFFFFFFull) return KV_MARK(err::SizelimitOver);
  if (size == 0) {
    bytes.clear();
    return {};
  }
  std::string buffer(static_cast<std::size_t>(size), '\0');
  const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), stream_);
  if (read == 0) return KV_MARK(err::NoMoreDataOrError);
  buffer.resize(read);
  bytes = std::move(buffer);
  return {};
}

ResultChain FileStream::WriteAll(std::string_view bytes) {
  if (stream_ == nullptr || !IsWriteMode(mode_)) return KV_MARK(err::InvalidMode);
  if (bytes.empty()) return {};
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), stream_);
  if (written < bytes.size()) {
    // The system's reason, when it gave one, is the root cause.
    ResultChain chain(err::WriteError);
    const DWORD error = ::GetLastError();
    if (error != NO_ERROR) chain.Add(error);
    return KV_MARK(chain);
  }
  return {};
}

ResultChain FileStream::Close() {
  if (stream_ == nullptr) return {};
  std::FILE* stream = std::exchange(stream_, nullptr);
  // Buffered bytes reach the file only here; a failure to flush them is a lost write.
  // A reader loses nothing when closing fails.
  if (std::fclose(stream) != 0 && IsWriteMode(mode_)) return KV_MARK(err::WriteError);
  return {};
}

}  // namespace kv
