#include "protect/Sha256.h"

#include <gtest/gtest.h>

#include <string>

#include "HexBytes.h"

namespace kv {
namespace {

using test::ToHex;

struct DigestCase {
  const char* label;
  std::string message;
  const char* digest;
};

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

std::string AllByteValues() {
  std::string text;
  for (int i = 0; i < 256; ++i) text += static_cast<char>(i);
  return text;
}

TEST(Sha256, PublishedAndBoundaryVectors) {
  const DigestCase cases[] = {
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"a", "a", "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
      {"message digest", "message digest", "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650"},
      {"alphabet", "abcdefghijklmnopqrstuvwxyz",
       "71c480df93d6ae2f1efad1447c66c9525e316218cf51fc8d9ed832f2daf18b73"},
      {"55 a", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {"56 a", std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {"57 a", std::string(57, 'a'), "f13b2d724659eb3bf47f2dd6af1accc87b81f09f59f2b75e5c0bed6589dfe8c6"},
      {"63 a", std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {"64 a", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {"65 a", std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {"111 a", std::string(111, 'a'), "6374f73208854473827f6f6a3f43b1f53eaa3b82c21c1a6d69a2110b2a79baad"},
      {"112 a", std::string(112, 'a'), "f54353008a2553262ecdc4a34749563ba0950e8b0fc8652780b0a614b99683c1"},
      {"119 a", std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {"120 a", std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {"127 a", std::string(127, 'a'), "c57e9278af78fa3cab38667bef4ce29d783787a2f731d4e12200270f0c32320a"},
      {"128 a", std::string(128, 'a'), "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
      {"129 a", std::string(129, 'a'), "c12cb024a2e5551cca0e08fce8f1c5e314555cc3fef6329ee994a3db752166ae"},
      {"bytes 00..ff", AllByteValues(), "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880"},
      {"alphabet x 100000", Repeat("abcdefghijklmnopqrstuvwxyz", 100000),
       "e406ba321ca712ad35a698bf0af8d61fc4dc40eca6bdcea4697962724ccbde35"},
  };
  for (const DigestCase& c : cases) {
    EXPECT_EQ(ToHex(Sha256::Of(c.message.data(), c.message.size())), c.digest) << c.label;
  }
}

TEST(Sha256, MillionAInAnyChunkingGivesThePublishedDigest) {
  const std::string message(1000000, 'a');
  const char* expected = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{55}, std::size_t{63}, std::size_t{64},
                                  std::size_t{65}, std::size_t{997}, message.size()}) {
    Sha256 hash;
    for (std::size_t offset = 0; offset < message.size(); offset += chunk) {
      hash.Update(message.data() + offset, std::min(chunk, message.size() - offset));
    }
    EXPECT_EQ(ToHex(hash.Finish()), expected) << "chunk " << chunk;
  }
}

TEST(Sha256, FinishStartsOver) {
  Sha256 hash;
  hash.Update("xyz", 3);
  hash.Finish();
  hash.Update("abc", 3);
  EXPECT_EQ(ToHex(hash.Finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ToHex(hash.Finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace kv
