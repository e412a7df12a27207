// FileStream: reads or writes a whole file through the C runtime, with long-path names.
//
// Owns its C runtime stream: destroying an open stream closes it. One thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "foundation/PathName.h"
#include "foundation/ResultChain.h"

namespace kv {

class FileStream {
 public:
  FileStream() = default;
  ~FileStream();
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  FileStream(FileStream&& other) noexcept;
  FileStream& operator=(FileStream&& other) noexcept;

  // Opens `path` (relative paths are taken relative to the program's folder) with an
  // _wfopen mode. A mode beginning "r" makes a reader, "w" or "a" a writer; any other
  // mode fails with InvalidMode. An open stream is closed first. The path is normalised
  // and, unless it begins with two backslashes, prefixed with "\\?\" so that paths
  // longer than the classic limit work. CannotOpenFile when the runtime refuses.
  ResultChain Open(std::wstring_view path, std::wstring_view mode);
  // The reading entry point: the mode must begin "r", else InvalidMode before the file
  // is touched.
  ResultChain OpenRead(std::wstring_view path, std::wstring_view mode = L"rb");
  // The writing entry point: the mode must begin "w" or "a", else InvalidMode.
  ResultChain OpenWrite(std::wstring_view path, std::wstring_view mode = L"wb");

  // Reads the whole file (reader only, else InvalidMode). An empty file gives empty
  // bytes and success; a size that cannot be read returns FileSize's failure (never an
  // empty success); 4 GiB or more fails with SizelimitOver; nothing read fails with
  // NoMoreDataOrError.
  ResultChain ReadAll(std::string& bytes);

  // How ReadAll learns the file's size: FileSize unless a caller (a test forcing the
  // failure path) substitutes another query. Called with the opened name.
  using SizeQuery = ResultChain (*)(const std::wstring& path, std::uint64_t& size);
  ResultChain ReadAll(std::string& bytes, SizeQuery sizeQuery);

  // Writes all bytes (writer only, else InvalidMode); empty bytes write nothing. A short
  // write fails with WriteError and the system code.
  ResultChain WriteAll(std::string_view bytes);

  // Closes the stream; success when none is open.
  ResultChain Close();

  bool IsOpen() const { return stream_ != nullptr; }
  // The normalised path of the last open.
  const PathName& Path() const { return path_; }
  // The text handed to _wfopen by the last open ("\\?\" form or UNC).
  const std::wstring& OpenedName() const { return openedName_; }
  const std::wstring& Mode() const { return mode_; }

 private:
  enum class Use { Any, Read, Write };
  ResultChain OpenFor(std::wstring_view path, std::wstring_view mode, Use use);

  PathName path_;
  std::wstring mode_;
  std::wstring openedName_;
  std::FILE* stream_ = nullptr;
};

}  // namespace kv
