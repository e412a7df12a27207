// A server's "Retry-After" (on a 429 or 503) and the record that keeps it between
// updates (defset/NotBeforeRecord.h). Until the moment passes, an update sends that server
// nothing and ends with UpdateDeferred.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "defset/NotBeforeRecord.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// The moment a "Retry-After" value names: delta-seconds, or an HTTP-date in any of its
// three forms (IMF-fixdate "Sun, 06 Nov 1994 08:49:37 GMT", RFC 850 "Sunday, 06-Nov-94
// 08:49:37 GMT", asctime "Sun Nov  6 08:49:37 1994"), at most kMostNotBeforeSeconds
// after `now`. None for a value that is none of these: the answer then counts as one
// without the header.
std::optional<std::int64_t> RetryAfterMoment(const std::wstring& value, std::int64_t now);

// The record of the destination, as the update honours it: none when there is no file,
// it is damaged, its moment has passed or another server asked (such a file is removed,
// so that it cannot hold anything up later); a moment further than the cap ahead is
// brought back to the cap and written so.
std::optional<NotBeforeRecord> HonouredNotBefore(const std::wstring& path, const std::wstring& url,
                                                 std::int64_t now);

// Keeps `record` (whole file, by rename); the system's code when it cannot.
ResultChain RecordNotBefore(const std::wstring& path, const NotBeforeRecord& record);

}  // namespace kv::refengine
