// The loops that move a whole file's bytes through an open handle, for files of any size:
// ReadFile and WriteFile take at most a DWORD and may do less than asked.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string_view>

#include "foundation/ResultChain.h"

namespace kv {

// Writes every byte, in pieces; a piece written short is WriteError.
ResultChain WriteAll(HANDLE file, std::string_view bytes);

// WriteAll, then FlushFileBuffers: what is on the disk before the file is renamed into
// place or trusted by anyone.
ResultChain WriteAllAndFlush(HANDLE file, std::string_view bytes);

// Reads from the file's position to its end, handing each piece to `piece`; the first
// failure, the system's or the callback's, ends the read.
ResultChain ReadToEnd(HANDLE file, const std::function<ResultChain(const char* data, std::size_t size)>& piece);

}  // namespace kv
