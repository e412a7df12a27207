#include "foundation/WholeFile.h"

#include <algorithm>
#include <vector>

#include "foundation/ErrorCodes.h"

namespace kv {

namespace {

constexpr DWORD kPieceBytes = 64 * 1024;

}  // namespace

ResultChain WriteAll(HANDLE file, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kPieceBytes));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, piece, &written, /*lpOverlapped=*/nullptr)) {
      return KV_MARK(LastErrorChain());
    }
    if (written != piece) return KV_MARK(err::WriteError);
    done += piece;
  }
  return {};
}

ResultChain WriteAllAndFlush(HANDLE file, std::string_view bytes) {
  KV_RETURN_IF_FAILED(WriteAll(file, bytes));
  if (!::FlushFileBuffers(file)) return KV_MARK(LastErrorChain());
  return {};
}

ResultChain ReadToEnd(HANDLE file, const std::function<ResultChain(const char* data, std::size_t size)>& piece) {
  std::vector<char> buffer(kPieceBytes);
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer.data(), kPieceBytes, &got, /*lpOverlapped=*/nullptr)) {
      return KV_MARK(LastErrorChain());
    }
    if (got == 0) return {};
    KV_RETURN_IF_FAILED(piece(buffer.data(), got));
  }
}

}  // namespace kv
