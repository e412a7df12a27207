// The built-in name and message tables behind ErrorNames.h. Private to the foundation
// (and its tests): other code asks for texts through CodeText and CodeName.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/ErrorNames.h"

namespace kv::detail {

// Every built-in name in table order: Success, each family's rows (families-table
// order, ascending index, the configuration-manager aliases first), the family bases
// from LineBase on, and InvalidEnumValue last. Where two rows share a code the earlier
// row names it.
extern const ErrorNameRow kErrorNameTable[];
extern const std::size_t kErrorNameTableSize;

// One message-table row: narrow texts in the English, Japanese and Chinese columns.
struct MessageRow {
  std::uint32_t code;
  const char* text[3];
};

// The message rows; the last is the terminating row {0xFFFFFFFF, "", "", ""}.
extern const MessageRow kMessageTable[];
extern const std::size_t kMessageTableSize;

}  // namespace kv::detail
