// Sealing side of the protected container: the inverse of ProtectedContainer::Open and
// the derivation of the two keys of an embedded configuration from a build's secret.
// Portable C++: the host sealing tool is built from this file too.
//
// Container: IV (32, clear) | CBC ciphertext of payload + padding + SHA-256(IV | payload
// | padding). Padding is n bytes of value n, 1 <= n <= 32, so an aligned payload gets a
// whole block of 0x20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protect/Sha256.h"

namespace kv {

using ByteString = std::vector<std::uint8_t>;

// Seals `payload` with a 32-byte key and the given IV. False for a key of another size.
bool SealContainer(const ByteString& payload, const std::uint8_t* key, std::size_t keySize, const Digest256& iv,
                   ByteString& container);

// A deterministic IV for a payload under a key: the same input always seals to the same
// bytes, and the key's owner is the only one who can predict it.
Digest256 DeriveContainerIv(const std::uint8_t* key, std::size_t keySize, const ByteString& payload);

// The key that opens resource 1, derived from the build's 32-byte secret.
Digest256 KeyMaterialContainerKey(const Digest256& buildSecret);

// The 32 bytes of key material carried in resource 1 for one configuration text.
Digest256 KeyMaterialFor(const Digest256& buildSecret, const ByteString& configText);

// The two resources of an embedded configuration: resource 1 (key material) and
// resource 4096 (the configuration text, keyed with SHA-256 of the key material).
struct SealedConfiguration {
  ByteString keyResource;
  ByteString configResource;
};
SealedConfiguration SealConfiguration(const Digest256& buildSecret, const ByteString& configText);

}  // namespace kv
