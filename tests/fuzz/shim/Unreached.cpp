// File access that the linked parsers reference (LoadIniFile, LoadManifest) but the
// fuzzers never reach: they hand the parsers bytes, not files. Every call fails as if
// files could not be opened at all.
#include <string>

#include "foundation/FileStream.h"
#include "foundation/ResultChain.h"
#include "windows.h"

namespace kv {

FileStream::~FileStream() = default;
ResultChain FileStream::OpenRead(std::wstring_view, std::wstring_view) { return ERROR_NOT_SUPPORTED; }
ResultChain FileStream::ReadAll(std::string&) { return ERROR_NOT_SUPPORTED; }
ResultChain FileStream::Close() { return {}; }

namespace refengine {
// Declared here rather than through its header, which brings the engine's file owners.
ResultChain ReadWholeFile(const std::wstring& path, std::string& bytes);
ResultChain ReadWholeFile(const std::wstring&, std::string&) { return ERROR_NOT_SUPPORTED; }
}  // namespace refengine

}  // namespace kv
