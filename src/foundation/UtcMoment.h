// Moments as the system's records and manifests write them: "2026-12-15T06:00:00Z",
// whole seconds since 1970-01-01 00:00 UTC. Pure arithmetic, so that the parsers that
// read them from untrusted bytes can be fuzzed off Windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kv {

// Exactly "dddd-dd-ddTdd:dd:ddZ" with a real calendar date from 1970 on, as seconds
// since 1970; none for any other text.
std::optional<std::int64_t> ParseUtcMoment(std::wstring_view text);

}  // namespace kv
