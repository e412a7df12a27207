// The rows "ReadErrorTable" hands to the service: the engine's own family and the
// built-in codes it reports, the latter spelled exactly as the service names them.
#pragma once

#include <cstddef>

#include "foundation/ErrorNames.h"

namespace kv::refengine {

// The rows stay valid for as long as the library is loaded.
const ErrorNameRow* EngineNameRows(std::size_t& count);

}  // namespace kv::refengine
