#include "tagedit/text_encoding.h"

#include <gtest/gtest.h>

namespace tagedit {
namespace {

TEST(EncodeFrameText, ChoosesLatin1Utf16OrTheBytesAsTyped) {
  struct Case {
    std::string typed;
    bool utf16;
    std::string latin1;
    std::u16string units;
  };
  const Case cases[] = {
      {"", false, "", u""},
      {"ASCII 123", false, "ASCII 123", u""},
      {"\xC3\xBF", false, "\xFF", u""},                     // U+00FF
      {"\xC4\x80", true, "", u"\u0100"},                    // U+0100
      {"\xC3\xA9\xE2\x82\xAC", true, "", u"\u00E9\u20AC"},  // é€
      {"\xF4\x8F\xBF\xBF", true, "", u"\U0010FFFF"},
      {"\xC3", false, "\xC3", u""},                          // cut short
      {"\xC0\xAF", false, "\xC0\xAF", u""},                  // overlong
      {"\xE0\x80\xAF", false, "\xE0\x80\xAF", u""},          // overlong
      {"\xED\xA0\x80", false, "\xED\xA0\x80", u""},          // surrogate
      {"\xF4\x90\x80\x80", false, "\xF4\x90\x80\x80", u""},  // past U+10FFFF
      {"\x80", false, "\x80", u""},  // lone continuation
      {"\xE2\x82"
       "A",
       false,
       "\xE2\x82"
       "A",
       u""},  // bad continuation
  };
  for (const Case& c : cases) {
    FrameText text = EncodeFrameText(c.typed);
    EXPECT_EQ(text.utf16, c.utf16) << c.typed;
    EXPECT_EQ(text.latin1, c.latin1) << c.typed;
    EXPECT_EQ(text.units, c.units) << c.typed;
  }
}

TEST(DecodeFrameStrings, ReadsEveryEncodingToUtf8) {
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
