// When a web server asked for time (a 429 or 503 with "Retry-After"), the engine keeps the
// moment before which it sends that server no request, beside the definition folder and
// outside it, so that kvtool can tell a deferred update from a failed one:
//
//   <DefDatFolder>.notbefore
//   [NotBefore]
//   Utc=2026-12-09T05:00:00Z
//   Url=https://updates.example/defs/
//
// Moments are whole seconds since 1970-01-01 00:00 UTC.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kv {

// The longest a server is ever given: a later moment, asked for or found in the record
// (a clock set back, a file edited), counts as this long from now.
constexpr std::int64_t kMostNotBeforeSeconds = 6 * 3600;

struct NotBeforeRecord {
  std::int64_t utc = 0;
  std::wstring url;  // the base address of the server that asked
};

std::wstring NotBeforePath(const std::wstring& definitionFolder);

// The system's clock as UTC seconds.
std::int64_t UtcNow();
// A valid calendar time as UTC seconds; none for an impossible date.
std::optional<std::int64_t> UtcSeconds(const SYSTEMTIME& time);
// "2026-12-09T05:00:00Z".
std::wstring UtcText(std::int64_t utc);

// The file's bytes (UTF-8 with its mark).
std::string NotBeforeBytes(const NotBeforeRecord& record);
// None when the bytes hold no record: a damaged file stands for no wish at all.
std::optional<NotBeforeRecord> ParseNotBefore(const std::string& bytes);
// The record in the file at `path`, opened with full sharing so that the engine can
// replace it while another program reads; none when it is missing, cannot be read, is
// larger than a record can be or holds none.
std::optional<NotBeforeRecord> ReadNotBefore(const std::wstring& path);

}  // namespace kv
