#include "ConsoleOutput.h"

#include <windows.h>

#include <algorithm>

#include "foundation/TextEncoding.h"

namespace kv::tool {

namespace {

void WriteTo(DWORD which, const std::wstring& text) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    // WriteConsoleW takes at most a limited amount at once on older systems; write in pieces.
    constexpr std::size_t kPiece = 8192;
    for (std::size_t offset = 0; offset < text.size(); offset += kPiece) {
      const DWORD count = static_cast<DWORD>(std::min(kPiece, text.size() - offset));
      DWORD written = 0;
      if (!::WriteConsoleW(handle, text.data() + offset, count, &written, /*lpReserved=*/nullptr)) return;
    }
    return;
  }
  std::string bytes;
  if (WideToNarrow(text, CP_UTF8, 0, bytes).Failed()) return;
  DWORD written = 0;
  ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, /*lpOverlapped=*/nullptr);
}

}  // namespace

void WriteOut(const std::wstring& text) { WriteTo(STD_OUTPUT_HANDLE, text); }
void WriteError(const std::wstring& text) { WriteTo(STD_ERROR_HANDLE, text); }

}  // namespace kv::tool
