// Opening the protected container: Rijndael-256/256 in CBC mode with a SHA-256 digest
// block at the end (layout in ContainerSeal.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/ResultChain.h"
#include "protect/Rijndael256.h"

namespace kv {

class ProtectedContainer {
 public:
  // Exactly 32 bytes, else InvalidKey (and no key is set).
  ResultChain SetKey(const std::uint8_t* key, std::size_t size);

  // Opens `data` in place and leaves the payload in it. On any failure `data` is
  // emptied, so a container that fails its digest never yields bytes.
  // NotSetPassword without a key; InvalidFormat for fewer than three whole blocks, a
  // length that is not whole blocks, or a padding count over 32; NotSameHash when the
  // digest block does not match.
  ResultChain Open(std::vector<std::uint8_t>& data) const;

 private:
  Rijndael256 cipher_;
};

}  // namespace kv
