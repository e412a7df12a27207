// Names and message texts of the family codes, and the process-wide name map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/ResultChain.h"

namespace kv {

// One row of a name table: the built-in one, or one a scan-engine library supplies.
// The layout is shared with engine libraries: a 32-bit code, then a UTF-16 name pointer.
struct ErrorNameRow {
  std::uint32_t code;
  const wchar_t* name;
};

// Text of a family code in a column (0 English, 1 Japanese, 2 Chinese): its message-table
// text when there is a non-empty one, else its name, else "InvalidEnumValue". Code 0 and
// columns outside 0..2 give empty text.
std::wstring CodeText(ErrorCode code, int column);

// The name-map lookup alone: the code's name, or "InvalidEnumValue".
std::wstring CodeName(ErrorCode code);

// Adds a library's rows to the name map. Agreeing names change nothing; a code the map
// already names differently ends the merge with InvalidKeyTable + that code.
ResultChain MergeNames(const ErrorNameRow* rows, std::size_t count);

}  // namespace kv
