// A compressed copy or patch as a web server or share hands it over: any bytes decode to
// at most the listed size, never past the output the decoder was given, and a frame the
// decoder accepts as whole filled it exactly. Input: the listed size (two bytes), the
// length of the earlier file a patch starts from (two bytes), that file, the piece size
// the bytes arrive in (one byte), then the object.
#include <memory>

#include "FuzzInput.h"
#include "defset/PackedDecoder.h"

namespace ref = kv::refengine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::size_t listed = input.Byte() | static_cast<std::size_t>(input.Byte()) << 8;
  const std::size_t referenceSize = input.Byte() | static_cast<std::size_t>(input.Byte()) << 8;
  const std::string_view reference = input.Bytes(referenceSize);
  const std::size_t piece = input.Byte() + 1;
  const std::string_view object = input.Rest();

  // Exactly the listed size, so that the sanitizer sees any byte written past it.
  const std::unique_ptr<char[]> out(new char[listed + 1]);
  ref::PackedDecoder decoder;
  const bool started = !decoder.Start(out.get(), listed, reference.empty() ? nullptr : reference.data(),
                                      reference.size())
                            .Failed();
  FUZZ_CHECK(started);
  bool failed = false;
  for (std::size_t at = 0; at < object.size() && !failed; at += piece) {
    failed = decoder.Feed(object.data() + at, std::min(piece, object.size() - at)).Failed();
    FUZZ_CHECK(decoder.Produced() <= listed);
  }
  if (!failed && !decoder.Finish().Failed()) FUZZ_CHECK(decoder.Produced() == listed);
  return 0;
}
