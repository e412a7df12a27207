// The build's sealing secret: 32 bytes chosen when the build is configured and compiled
// into the program, the administrator's tool and the sealing tool alike, so that the
// embedded configuration of one build opens only with programs of that build.
#pragma once

#include "protect/Sha256.h"

namespace kv {

// False when the program was built without a secret (no embedded configuration step);
// `secret` is then all zero.
bool BuildSecret(Digest256& secret);

// The key that opens resource 1 of this build's programs; false without a secret.
bool ResourceOneKey(Digest256& key);

}  // namespace kv
