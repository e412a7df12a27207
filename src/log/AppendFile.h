// Appending bytes to a file that other programs read and write at the same time.
#pragma once

#include <string>
#include <string_view>

#include "foundation/ResultChain.h"

namespace kv {

// Appends `bytes` at the file's end in one write, creating the file when it is missing.
// Earlier content is never rewritten, so a failure cannot lose it. A file held open
// without sharing is retried (six attempts in all, 250 ms apart, only for sharing
// violations); after that the system error is returned and the file is untouched. A
// write that stops part-way is cut back off again when nobody appended after it.
ResultChain AppendToFile(const std::wstring& path, std::string_view bytes);

}  // namespace kv
