#include "tagedit/tag_writer.h"

#include <gtest/gtest.h>

namespace tagedit {
namespace {

TEST(ChooseV2Size, KeepsFittingRoomElsePadsAtLeast1KiBTo2KiBFiles) {
  constexpr uint64_t kLarge = uint64_t{40} << 20;
  struct Case {
    uint64_t needed, old_size, audio, expected;
  };
  const Case cases[] = {
      {0, 2048, 10000, 0},          // no frame left: no tag
      {500, 2048, 10000, 2048},     // fits the old room
      {500, 4595, 10000, 4595},     // 4095 to spare still fits
      {500, 4596, 10000, 2160},     // 4096 to spare: shrinks
      {3000, 2048, 10000, 4208},    // grows: 3000 + 1208 padding
      {500, 0, 0, 1920},            // first tag, file of 2 KiB
      {896, 0, 0, 1920},            // exactly 1 KiB of padding
      {897, 0, 0, 3968},            // one byte more: 2 KiB more
      {500, 8192, kLarge, 8192},    // a large file keeps any room
      {9000, 8192, kLarge, 10112},  // a large file's growth is padded too
  };
  for (const Case& c : cases) {
    uint64_t size = ChooseV2Size(c.needed, c.old_size, c.audio);
    EXPECT_EQ(size, c.expected) << c.needed << " " << c.old_size;
    if (size != c.old_size && size != 0) {
      EXPECT_GE(size - c.needed, 1024u);
      EXPECT_EQ((size + c.audio + 128) % 2048, 0u);
    }
  }
}

TEST(PadV2, ExtendsThePaddingAndSetsTheHeaderSize) {
  std::string v2 = std::string("ID3\x03\0\0\0\0\0\x03", 10) + "abc";
  std::string tag = PadV2(v2, 300);
  ASSERT_EQ(tag.size(), 300u);
  EXPECT_EQ(tag.substr(0, 13),
            std::string("ID3\x03\0\0\0\0\x02\x22", 10) + "abc");
  EXPECT_EQ(tag.substr(13), std::string(287, '\0'));
  EXPECT_EQ(PadV2(v2, 0), "");
}

}  // namespace
}  // namespace tagedit
