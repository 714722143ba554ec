// What the ID3v1 tag at the end of the file holds after an edit.
#include "tagedit/id3v1.h"

#include <gtest/gtest.h>

#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

TEST(Id3v1, HoldsTheValuesSetAndKeepsTheOthers) {
  // Blank-padded, as some taggers write it: kept byte for byte.
  const std::string old_v1 =
      Id3v1({"Old", "Ann  ", "Alb", "1999", "v1"}, 1, 17);
  const std::string frames = Id3v2(
      3, Frame("TPE1", "\x01\xFF\xFE\xE5\x65\x2C\x67"s) + Text("TCON", "Rock") +
             Text("TRCK", "4/9") + Text("TYER", "2001") +
             Frame("COMM", "\0eng\0hi"s) + Text("TIT2", "Title"));
  const std::string comment(31, 'c');
  struct Case {
    std::string v2, v1;
    std::vector<std::string> words;
    std::string expected;
  };
  // clang-format off
  const Case cases[] = {
      {"", "", {"-set", "title", "Na\xC3\xAFve \xCE\xA9mega", "-set", "artist", "Bj\xC3\xB6rk", "-set",
                "genre", "metal", "-set", "tracknum", "3/12", "-set", "comment", comment},
       Id3v1({"Na\xEFve ?mega", "Bj\xF6rk", "", "", std::string(28, 'c')}, 3, 9)},
      {frames, old_v1, {"-set", "title", "New"}, Id3v1({"New", "Ann  ", "Alb", "1999", "v1"}, 1, 17)},
      {frames, "", {"-set", "album", "A"}, Id3v1({"Title", "??", "A", "2001", "hi"}, 4, 17)},
      {"", old_v1, {"-set", "title", "", "-set", "tracknum", "", "-set", "genre", "", "-set", "comment", comment},
       Id3v1({"", "Ann  ", "Alb", "1999", std::string(30, 'c')}, 0, 255)},
      {"", "", {"-set", "album", std::string(31, 'a'), "-set", "genre", "blues"},
       Id3v1({"", "", std::string(30, 'a')}, 0, 0)},
      {Id3v2(4, Text("TDRC", "2001-05-06", 4)), "", {"-set", "title", "T"}, Id3v1({"T", "", "", "2001"}, 0, 255)},
  };
  // clang-format on
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "song.mp3", c.v2 + Mpeg(5) + c.v1);
    std::string bytes = Edit(dir / "song.mp3", c.words);
    EXPECT_EQ(bytes.substr(bytes.size() - kV1Size), c.expected) << c.words[2];
  }
}

TEST(Id3v1, GenreNumbersAndNamesAreRead) {
  const std::pair<std::string, int> cases[] = {
      {"(17)", 17}, {"10", 10},         {"(9)Metal", 9},
      {"mEtAl", 9}, {"", 255},          {"Mathcore", 255},
      {"256", 255}, {"a CAPELLA", 123}, {"Christian Rock", 141}};
  for (const auto& [text, genre] : cases)
    EXPECT_EQ(GenreByte(text), genre) << text;
}

}  // namespace
}  // namespace tagedit
