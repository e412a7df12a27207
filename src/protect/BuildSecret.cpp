#include "protect/BuildSecret.h"

#include "protect/ContainerSeal.h"

// The build writes kv_build_secret.inc (32 comma-separated byte values) into its own
// folder and puts that folder on the include path; without it no key exists.
#if defined(__has_include)
#if __has_include("kv_build_secret.inc")
#define KV_HAVE_BUILD_SECRET 1
#endif
#endif

namespace kv {

bool BuildSecret(Digest256& secret) {
#ifdef KV_HAVE_BUILD_SECRET
  secret = Digest256{
#include "kv_build_secret.inc"
  };
  return true;
#else
  secret.fill(0);
  return false;
#endif
}

bool ResourceOneKey(Digest256& key) {
  Digest256 secret;
  if (!BuildSecret(secret)) {
    key.fill(0);
    return false;
  }
  key = KeyMaterialContainerKey(secret);
  return true;
}

}  // namespace kv
