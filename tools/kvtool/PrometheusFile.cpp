#include "PrometheusFile.h"

#include <windows.h>

#include "defset/FileTransfer.h"
#include "foundation/TextEncoding.h"

namespace kv::tool {

namespace {

// A collector reading the old file at that moment, opened without delete sharing as most
// readers open files, makes the system refuse the rename. Such reads take milliseconds:
// try again for about two seconds before giving up.
constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplaceRetryMs = 100;

}  // namespace

ResultChain WritePrometheusFile(const std::wstring& path, const std::wstring& text) {
  std::string bytes;
  KV_RETURN_IF_FAILED(WideToNarrow(text, CP_UTF8, 0, bytes));
  for (int attempt = 1;; ++attempt) {
    const ResultChain replaced = refengine::ReplaceWholeFile(path, bytes);
    if (!replaced.Failed()) return {};
    const bool held = replaced.Contains(ERROR_ACCESS_DENIED) || replaced.Contains(ERROR_SHARING_VIOLATION);
    if (!held || attempt == kReplaceAttempts) return KV_MARK(replaced);
    ::Sleep(kReplaceRetryMs);
  }
}

}  // namespace kv::tool
