// What the ID3v1 tag at the end of the file holds after an edit.
#include "tagedit/id3v1.h"

#include <gtest/gtest.h>

#include "tagedit/tag_edit.h"
#include "test/support.h"

namespace tagedit {
namespace {

using testing_support::Frame;
using testing_support::Id3v1;
using testing_support::Id3v2;
using testing_support::MpegFrames;
using testing_support::RawFrames;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Bytes(const char* bytes, size_t size) { return {bytes, size}; }

class Id3v1Test : public ::testing::Test {
 protected:
  // Writes `tags` around some audio, edits with `words`; returns the file.
  std::string Edit(const std::string& v2, const std::string& v1,
                   const std::vector<std::string>& words) {
    WriteFile(file_, v2 + MpegFrames(5) + v1);
    ArgumentList args{"tagwell", file_};
    args.insert(args.end(), words.begin(), words.end());
    SummaryText summary;
    ApplyTagEdits(args, summary);
    return ReadFile(file_);
  }

  TempDir dir_;
  std::string file_ = dir_ / "song.mp3";
};

TEST_F(Id3v1Test, HoldsTheValuesSetAndKeepsTheOthers) {
  const std::string old_v1 = Id3v1({"Old", "Ann", "Alb", "1999", "v1"}, 1, 17);
  const std::string frames =
      Frame("TPE1", Bytes("\x01\xFF\xFE\xE5\x65\x2C\x67", 7)) +
      Frame("TCON", Bytes("\0Rock", 5)) + Frame("TRCK", Bytes("\0004/9", 5)) +
      Frame("TYER", Bytes("\0"
                          "2001",
                          5)) +
      Frame("COMM", Bytes("\0eng\0hi", 7)) + Frame("TIT2", Bytes("\0Title", 6));
  const std::string long_comment(31, 'c');
  struct Case {
    const char* name;
    std::string v2, v1;
    std::vector<std::string> words;
    std::string expected;
  };
  const Case cases[] = {
      {"Latin-1, UTF-16, a genre name, a track with total",
       "",
       "",
       {"-set", "title", "Na\xC3\xAFve \xCE\xA9mega", "-set", "artist",
        "Bj\xC3\xB6rk", "-set", "genre", "metal", "-set", "tracknum", "3/12",
        "-set", "comment", long_comment},
       Id3v1({"Na\xEFve ?mega", "Bj\xF6rk", "", "", std::string(28, 'c')}, 3,
             9)},
      {"the others as the old ID3v1 tag holds them",
       Id3v2(3, frames),
       old_v1,
       {"-set", "title", "New"},
       Id3v1({"New", "Ann", "Alb", "1999", "v1"}, 1, 17)},
      {"without an ID3v1 tag, the others from the frames",
       Id3v2(3, frames),
       "",
       {"-set", "album", "A"},
       Id3v1({"Title", "??", "A", "2001", "hi"}, 4, 17)},
      {"empty values clear, and a comment without a track has 30 bytes",
       "",
       old_v1,
       {"-set", "title", "", "-set", "tracknum", "", "-set", "genre", "",
        "-set", "comment", long_comment},
       Id3v1({"", "Ann", "Alb", "1999", std::string(30, 'c')}, 0, 255)},
      {"track 1, a long album, a genre numbered 0",
       "",
       "",
       {"-set", "tracknum", "1", "-set", "album", std::string(31, 'a'), "-set",
        "genre", "blues"},
       Id3v1({"", "", std::string(30, 'a')}, 1, 0)},
      {"the v2.4 year, cut to four characters",
       Id3v2(4, Frame("TDRC",
                      Bytes("\x03"
                            "2001-05-06",
                            11),
                      0, 4)),
       "",
       {"-set", "title", "T"},
       Id3v1({"T", "", "", "2001"}, 0, 255)},
  };
  for (const Case& c : cases) {
    std::string bytes = Edit(c.v2, c.v1, c.words);
    EXPECT_EQ(bytes.substr(bytes.size() - kV1Size), c.expected) << c.name;
  }
}

TEST_F(Id3v1Test, AFileWithOnlyAnId3v1TagGetsItsFieldsInFrames) {
  std::string bytes =
      Edit("", Id3v1({"Old", "Ann", "Alb", "1999", "v1"}, 5, 17),
           {"-set", "title", "New"});
  using Frames = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(RawFrames(bytes), (Frames{{"TPE1", Bytes("\0Ann", 4)},
                                      {"TALB", Bytes("\0Alb", 4)},
                                      {"TYER", Bytes("\0"
                                                     "1999",
                                                     5)},
                                      {"COMM", Bytes("\0XXX\0v1", 7)},
                                      {"TRCK", Bytes("\0"
                                                     "5",
                                                     2)},
                                      {"TCON", Bytes("\0(17)", 5)},
                                      {"TIT2", Bytes("\0New", 4)}}));
}

TEST(GenreByte, ReadsNumbersAndNamesOfTheId3v1List) {
  const std::pair<std::string, int> cases[] = {
      {"(17)", 17},      {"17", 17},         {"(9)Metal", 9},
      {"Metal", 9},      {"mEtAl", 9},       {"Mathcore", 255},
      {"", 255},         {"256", 255},       {"0", 0},
      {"Psybient", 255}, {"a CAPELLA", 123}, {"Christian Rock", 141}};
  for (const auto& [text, genre] : cases) {
    EXPECT_EQ(GenreByte(text), genre) << text;
  }
}

}  // namespace
}  // namespace tagedit
