#include "tagedit/text_encoding.h"

#include <gtest/gtest.h>

namespace tagedit {
namespace {

TEST(TextEncoding, ValuesAreUtf8OnlyWhenStrictlySo) {
  // Not UTF-8, each is stored as typed: cut short, overlong, a surrogate,
  // past U+10FFFF, a lone continuation, a bad continuation.
  for (const std::string bytes : {"\xC3", "\xC0\xAF", "\xE0\x80\xAF",
                                  "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80",
                                  "\xE2\x82"
                                  "A"}) {
    FrameText text = EncodeFrameText(bytes);
    EXPECT_TRUE(!text.utf16 && text.latin1 == bytes) << bytes;
    EXPECT_EQ(Latin1Approximation(bytes), bytes);
  }
  EXPECT_EQ(EncodeFrameText("\xC3\xBF").latin1, "\xFF");
  EXPECT_EQ(EncodeFrameText("\xC4\x80\xF4\x8F\xBF\xBF").units,
            u"\u0100\U0010FFFF");
  EXPECT_EQ(Latin1Approximation("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            "\xE9??");
}

TEST(TextEncoding, FrameStringsAreDecodedFromEveryEncoding) {
  struct Case {
    int encoding;
    std::string bytes;
    std::vector<std::string> strings;
  };
  const Case cases[] = {
      {0, std::string("Caf\xE9\0x", 6), {"Caf\xC3\xA9", "x"}},
      {0, std::string("a\0", 2), {"a"}},
      {1,
       std::string("\xFF\xFEh\0\xE5\x65\0\0\xFE\xFF\0x", 12),
       {"h\xE6\x97\xA5", "x"}},
      {1, std::string("h\0i\0", 4), {"hi"}},  // no mark: little-endian
      {2, std::string("\0h\xD8\x3D\xDE\x00", 6), {"h\xF0\x9F\x98\x80"}},
      {2, std::string("\xD8\x3D\0h\0", 5), {"\xEF\xBF\xBDh"}},  // lone, odd
      {3, "\xC3\xA9t\xC3\xA9", {"\xC3\xA9t\xC3\xA9"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeFrameStrings(c.encoding, c.bytes), c.strings) << c.bytes;
  }
}

}  // namespace
}  // namespace tagedit
