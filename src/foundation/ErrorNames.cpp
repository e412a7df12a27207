// Placeholder until the name table lands.
#include "foundation/ErrorNames.h"

namespace kv {
std::wstring CodeText(ErrorCode, int) { return L"InvalidEnumValue"; }
std::wstring CodeName(ErrorCode) { return L"InvalidEnumValue"; }
ResultChain MergeNames(const ErrorNameRow*, std::size_t) { return {}; }
}  // namespace kv
