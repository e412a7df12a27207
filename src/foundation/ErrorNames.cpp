// Names and message texts of family codes, and the process-wide name map.
#include "foundation/ErrorNames.h"

#include <windows.h>

#include <map>

#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNameTable.h"
#include "foundation/SrwGuard.h"

namespace kv {

namespace {

// The name map with its guard. Readers share the lock; MergeNames takes it alone.
struct NameMap {
  SRWLOCK lock = SRWLOCK_INIT;
  std::map<ErrorCode, std::wstring> names;
};

// Fills from the built-in table, last row to first, so the earlier row's name stays.
void FillFromTable(std::map<ErrorCode, std::wstring>& names) {
  for (std::size_t i = detail::kErrorNameTableSize; i-- > 0;) {
    names[detail::kErrorNameTable[i].code] = detail::kErrorNameTable[i].name;
  }
}

INIT_ONCE g_nameMapOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK CreateNameMap(PINIT_ONCE /*once*/, PVOID /*parameter*/, PVOID* map) {
  auto* created = new NameMap;
  FillFromTable(created->names);
  *map = created;
  return TRUE;
}

// Built and filled on first use, once, however many threads ask at the same moment (a
// one-time initialisation of the system's, not the runtime's guard of function-local
// statics). Never destroyed, so texts can still be asked for while other static objects
// are torn down at process exit.
NameMap& TheNameMap() {
  void* map = nullptr;
  ::InitOnceExecuteOnce(&g_nameMapOnce, &CreateNameMap, /*Parameter=*/nullptr, &map);
  return *static_cast<NameMap*>(map);
}

// The row of the message table for a code, or the terminating row.
const detail::MessageRow& MessageRowOf(ErrorCode code) {
  for (std::size_t i = 0; i + 1 < detail::kMessageTableSize; ++i) {
    if (detail::kMessageTable[i].code == code) return detail::kMessageTable[i];
  }
  return detail::kMessageTable[detail::kMessageTableSize - 1];
}

// ANSI-code-page text as wide text; empty when it is empty or cannot be converted.
std::wstring FromAnsi(const char* text) {
  if (text == nullptr || *text == '\0') return {};
  const int length = ::MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, text, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (::MultiByteToWideChar(CP_ACP, /*dwFlags=*/0, text, -1, wide.data(), length) != length) return {};
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

}  // namespace

std::wstring CodeName(ErrorCode code) {
  NameMap& map = TheNameMap();
  SharedGuard guard(map.lock);
  auto it = map.names.find(code);
  // An empty name counts as no name, as MergeNames treats it.
  if (it == map.names.end() || it->second.empty()) it = map.names.find(err::InvalidEnumValue);
  return it == map.names.end() ? std::wstring(L"InvalidEnumValue") : it->second;
}

std::wstring CodeText(ErrorCode code, int column) {
  if (column < 0 || column > 2 || code == 0) return {};
  std::wstring text = FromAnsi(MessageRowOf(code).text[column]);
  if (!text.empty()) return text;
  return CodeName(code);
}

ResultChain MergeNames(const ErrorNameRow* rows, std::size_t count) {
  if (rows == nullptr && count != 0) return KV_MARK(err::InvalidArgumentNullPointer);

  // The library's rows, last to first, so that within its table the earlier row wins.
  // A row without a name (null pointer) names nothing and is skipped.
  std::map<ErrorCode, std::wstring> incoming;
  for (std::size_t i = count; i-- > 0;) {
    if (rows[i].name != nullptr) incoming[rows[i].code] = rows[i].name;
  }

  NameMap& map = TheNameMap();
  ExclusiveGuard guard(map.lock);
  for (const auto& [code, name] : incoming) {
    auto it = map.names.find(code);
    if (it != map.names.end() && !it->second.empty()) {
      if (it->second != name) return ResultChain(err::InvalidKeyTable) + code;
    } else if (!name.empty()) {
      map.names[code] = name;
    }
  }
  return {};
}

}  // namespace kv
