// Writes "kvtool status --prometheus-file" output where a collector polls for it
// (windows_exporter's textfile collector reads every *.prom file of its folder).
#pragma once

#include <string>

#include "foundation/ResultChain.h"

namespace kv::tool {

// Writes `text` as UTF-8 (no byte-order mark, LF line ends as given) to
// "<path>.<process id>.tmp" beside `path`, flushes it and renames it over `path` in one
// step: the collector reads the old file or the new one whole, never a part, and never
// the temporary one, whose name does not end in ".prom". Nothing is left behind on failure.
ResultChain WritePrometheusFile(const std::wstring& path, const std::wstring& text);

}  // namespace kv::tool
