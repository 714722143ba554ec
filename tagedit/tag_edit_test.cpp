// What each command leaves in the tags: the frames id3lib renders for every
// field and value, the frames an empty value removes, and the ID3v1 tag.
#include "tagedit/tag_edit.h"

#include <gtest/gtest.h>

#include "tagedit/id3v1.h"
#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

TEST(TagEdit, EachValueBecomesTheFrameItNeeds) {
  const std::string all =
      Id3v2(3, Text("TRCK", "5") + Text("TPE1", "a") + Text("TALB", "b") +
                   Text("TIT2", "c") + Text("TYER", "2000") +
                   Frame("COMM", "\0XXX\0d"s) + Text("TCON", "e"));
  // Blank-padded, as some taggers write it: kept byte for byte.
  const std::string old_v1 =
      Id3v1({"Old", "Ann  ", "Alb", "1999", "v1"}, 1, 17);
  const std::string tagged = Id3v2(
      3, Frame("TPE1", "\x01\xFF\xFE\xE5\x65\x2C\x67"s) + Text("TCON", "Rock") +
             Text("TRCK", "4/9") + Text("TYER", "2001") +
             Frame("COMM", "\0eng\0hi"s) + Text("TIT2", "Title"));
  const std::string c31(31, 'c');
  struct Case {
    std::string start;  // the file's ID3v2 tag
    std::vector<std::string> words;
    std::string frames;         // after the edit, where given
    std::string v1 = "";        // the file's ID3v1 tag
    std::string v1_after = "";  // after the edit, where given
  };
  // clang-format off
  const Case cases[] = {
      {"", {"-set", "tracknum", "7", "-set", "artist", "Ann", "-set", "album", "Alb", "-set", "title",
            "Tit", "-set", "year", "1999", "-set", "comment", "Com", "-set", "genre", "(17)"},
       Text("TRCK", "7") + Text("TPE1", "Ann") + Text("TALB", "Alb") + Text("TIT2", "Tit") +
           Text("TYER", "1999") + Frame("COMM", "\0XXX\0Com"s) + Text("TCON", "(17)")},
      {"", {"-set", "tracknum", " 007", "-set", "genre", "Rock"}, Text("TRCK", "7") + Text("TCON", "Rock")},
      {"", {"-set", "tracknum", "+3/12"}, Text("TRCK", "3/12")},
      {"", {"-set", "tracknum", "12abc"}, Text("TRCK", "12")},
      {"", {"-set", "tracknum", "255/255"}, Text("TRCK", "255/255"), "", Id3v1({}, 255, 255)},
      {"", {"-set", "tracknum", "3/256"}, Text("TRCK", "3")},
      {"", {"-set", "tracknum", "3/0"}, Text("TRCK", "3")},
      {"", {"-set", "tracknum", "3/12x"}, Text("TRCK", "3")},
      {"", {"-set", "title", "Bj\xC3\xB6rk"}, Text("TIT2", "Bj\xF6rk")},
      // Not UTF-8, stored as typed: cut short, overlong twice, a surrogate,
      // past U+10FFFF, a lone or a bad continuation.
      {"", {"-set", "title", "\xC3\xE6\x97\xA5"}, Text("TIT2", "\xC3\xE6\x97\xA5")},
      {"", {"-set", "title", "\xC0\xAF\xE6\x97\xA5"}, Text("TIT2", "\xC0\xAF\xE6\x97\xA5")},
      {"", {"-set", "title", "\xE0\x80\xAF\xE6\x97\xA5"}, Text("TIT2", "\xE0\x80\xAF\xE6\x97\xA5")},
      {"", {"-set", "title", "\xED\xA0\x80\xE6\x97\xA5"}, Text("TIT2", "\xED\xA0\x80\xE6\x97\xA5")},
      {"", {"-set", "title", "\xF4\x90\x80\x80\xE6\x97\xA5"}, Text("TIT2", "\xF4\x90\x80\x80\xE6\x97\xA5")},
      {"", {"-set", "title", "\x80\xE6\x97\xA5"}, Text("TIT2", "\x80\xE6\x97\xA5")},
      {"", {"-set", "title", "\xF8\xE6\x97\xA5"}, Text("TIT2", "\xF8\xE6\x97\xA5")},
      {"", {"-set", "title", "caf\xE9"}, Text("TIT2", "caf\xE9")},
      {"", {"-set", "title", "\xC3\xBF\xC4\x80\xF4\x8F\xBF\xBF"},
       Frame("TIT2", "\x01\xFF\xFE\xFF\0\0\x01\xFF\xDB\xFF\xDF"s)},
      {"", {"-set", "title", "\xE6\x97\xA5"}, Frame("TIT2", "\x01\xFF\xFE\xE5\x65"s)},
      {"", {"-set", "title", "a\xF0\x90\x80\x80"}, Frame("TIT2", "\x01\xFF\xFE" "a\0\x00\xD8\x00\xDC"s)},
      {"", {"-set", "comment", "\xE2\x99\xA5"}, Frame("COMM", "\x01XXX\0\0\xFF\xFE\x65\x26"s)},
      {"", {"-set", "title", "A", "-set", "tracknum", "1", "-set", "title", "B", "-set", "tracknum", "2"},
       Text("TIT2", "B") + Text("TRCK", "2")},
      {Id3v2(2, ""), {"-set", "comment", std::string(70000, 'c')}, Frame("COM", "\0XXX\0"s + std::string(70000, 'c'))},
      // Over 127 bytes, a plain size that misreads as syncsafe.
      {"", {"-set", "title", std::string(300, 'X')}, Text("TIT2", std::string(300, 'X'))},
      {all, {"-set", "title", "", "-set", "tracknum", "", "-set", "comment", "", "-set", "artist", "",
             "-set", "album", "", "-set", "genre", "", "-set", "year", "2001"},
       Text("TYER", "2001")},
      // The ID3v1 tag: Latin-1 or '?', cut to its slots, a track with its
      // total, genre names as numbers, the fields not set kept.
      {"", {"-set", "title", "Na\xC3\xAFve \xCE\xA9mega", "-set", "artist", "Bj\xC3\xB6rk", "-set", "genre",
            "metal", "-set", "tracknum", "3/12", "-set", "comment", c31},
       "", "", Id3v1({"Na\xEFve ?mega", "Bj\xF6rk", "", "", std::string(28, 'c')}, 3, 9)},
      {tagged, {"-set", "title", "New"}, "", old_v1, Id3v1({"New", "Ann  ", "Alb", "1999", "v1"}, 1, 17)},
      {tagged, {"-set", "album", "A"}, "", "", Id3v1({"Title", "??", "A", "2001", "hi"}, 4, 17)},
      {"", {"-set", "title", "", "-set", "tracknum", "", "-set", "genre", "", "-set", "comment", c31},
       "", old_v1, Id3v1({"", "Ann  ", "Alb", "1999", std::string(30, 'c')}, 0, 255)},
      {"", {"-set", "album", std::string(31, 'a'), "-set", "genre", "blues"},
       "", "", Id3v1({"", "", std::string(30, 'a')}, 0, 0)},
      {Id3v2(4, Text("TDRC", "2001-05-06", 4)), {"-set", "title", "T"}, "", "", Id3v1({"T", "", "", "2001"}, 0, 255)},
  };
  // clang-format on
  const std::string audio = Mpeg(20);
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "song.mp3", c.start + audio + c.v1);
    std::string bytes = Edit(dir / "song.mp3", c.words);
    std::string where = "row " + std::to_string(&c - cases);
    // A row that leaves a tag out leaves it to the other rows.
    EXPECT_EQ(c.frames.empty() ? "" : Frames(bytes), c.frames) << where;
    EXPECT_EQ(c.v1_after.empty() ? "" : bytes.substr(bytes.size() - 128),
              c.v1_after)
        << where;
    EXPECT_TRUE(AudioOf(bytes) == audio) << where;
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
