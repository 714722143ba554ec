// Round trips on real files: what each edit leaves in the tag bytes.
#include "tagedit/tag_edit.h"

#include <gtest/gtest.h>

#include "test/support.h"

namespace tagedit {
namespace {

using testing_support::AudioOf;
using testing_support::Id3v2;
using testing_support::MpegFrames;
using testing_support::RawFrame;
using testing_support::RawFrames;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::TextFrame;
using testing_support::WriteFile;

class TagEditTest : public ::testing::Test {
 protected:
  // Applies the groups `words` to the test file; returns the file's bytes.
  std::string Edit(const std::vector<std::string>& words) {
    ArgumentList args{"tagwell", file_};
    args.insert(args.end(), words.begin(), words.end());
    SummaryText summary;
    ApplyTagEdits(args, summary);
    return ReadFile(file_);
  }
  // The file's ID3v1 tag.
  std::string V1(const std::string& bytes) {
    EXPECT_EQ(bytes.compare(bytes.size() - 128, 3, "TAG"), 0);
    return bytes.substr(bytes.size() - 128);
  }

  TempDir dir_;
  std::string file_ = dir_ / "song.mp3";
  std::string audio_ = MpegFrames(20);
};

TEST_F(TagEditTest, EveryFieldLandsInItsFrameAndTheAudioIsKept) {
  WriteFile(file_, audio_);
  std::string bytes = Edit(
      {"-set",  "tracknum", "7",       "-set",  "artist", "Ann",   "-set",
       "album", "Alb",      "-set",    "title", "Tit",    "-set",  "year",
       "1999",  "-set",     "comment", "Com",   "-set",   "genre", "(17)"});
  EXPECT_EQ(RawFrame(bytes, "TRCK"), std::string("\0"
                                                 "7",
                                                 2));
  EXPECT_EQ(RawFrame(bytes, "TPE1"), std::string("\0Ann", 4));
  EXPECT_EQ(RawFrame(bytes, "TALB"), std::string("\0Alb", 4));
  EXPECT_EQ(RawFrame(bytes, "TIT2"), std::string("\0Tit", 4));
  EXPECT_EQ(RawFrame(bytes, "TYER"), std::string("\0"
                                                 "1999",
                                                 5));
  EXPECT_EQ(RawFrame(bytes, "COMM"), std::string("\0XXX\0Com", 8));
  EXPECT_EQ(RawFrame(bytes, "TCON"), std::string("\0(17)", 5));
  EXPECT_EQ(RawFrames(bytes).size(), 7u);
  EXPECT_EQ(AudioOf(bytes), audio_);
  std::string v1 = V1(bytes);
  EXPECT_EQ(v1.substr(3, 4), std::string("Tit\0", 4));
  EXPECT_EQ(v1[126], 7);
}

TEST_F(TagEditTest, GenreIsKeptAsTyped) {
  for (const std::string genre : {"Rock", "17", "(17)", "Mathcore"}) {
    WriteFile(file_, audio_);
    EXPECT_EQ(RawFrame(Edit({"-set", "genre", genre}), "TCON"), '\0' + genre);
  }
}

TEST_F(TagEditTest, TrackIsReadAsAtoiReadsIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"7", "7"},          {"007", "7"},   {" 9", "9"},    {"+4", "4"},
      {"12abc", "12"},     {"255", "255"}, {"1", "1"},     {"3/12", "3/12"},
      {"03/255", "3/255"}, {"3/0", "3"},   {"3/256", "3"}, {"3/12x", "3"},
      {"3/", "3"}};
  for (const auto& [typed, stored] : cases) {
    WriteFile(file_, audio_);
    EXPECT_EQ(RawFrame(Edit({"-set", "tracknum", typed}), "TRCK"),
              '\0' + stored)
        << typed;
  }
}

TEST_F(TagEditTest, LaterGroupWinsAndEmptyValueRemovesTheField) {
  WriteFile(file_, audio_);
  std::string bytes = Edit({"-set", "title", "A", "-set", "title", "B"});
  EXPECT_EQ(RawFrame(bytes, "TIT2"), std::string("\0B", 2));
  Edit({"-set", "tracknum", "5", "-set", "comment", "c", "-set", "artist", "a",
        "-set", "album", "b", "-set", "year", "2000", "-set", "genre", "g"});
  bytes = Edit({"-set", "title",   "", "-set", "tracknum", "",
                "-set", "comment", "", "-set", "artist",   "",
                "-set", "album",   "", "-set", "year",     "",
                "-set", "genre",   "", "-set", "year",     "2001"});
  ASSERT_EQ(RawFrames(bytes).size(), 1u);
  EXPECT_EQ(RawFrame(bytes, "TYER"), std::string("\0"
                                                 "2001",
                                                 5));
  EXPECT_EQ(V1(bytes).substr(3, 30), std::string(30, '\0'));
  EXPECT_EQ(AudioOf(bytes), audio_);
}

TEST_F(TagEditTest, EverySecondCommentReachesTheId3v1Tag) {
  WriteFile(file_, audio_);
  Edit({"-set", "comment", "first"});
  std::string bytes = Edit({"-set", "comment", "second"});
  EXPECT_EQ(RawFrame(bytes, "COMM"), std::string("\0XXX\0second", 11));
  EXPECT_EQ(V1(bytes).substr(97, 7), std::string("second\0", 7));
  bytes = Edit({"-set", "comment", ""});
  EXPECT_EQ(testing_support::V2TagSize(bytes), 0u);
  EXPECT_EQ(V1(bytes).substr(97, 28), std::string(28, '\0'));
}

TEST_F(TagEditTest, TextIsStoredInTheEncodingItNeeds) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", std::string("\0plain", 6)},
      {"Bj\xC3\xB6rk", std::string("\0Bj\xF6rk", 6)},
      {"caf\xE9", std::string("\0caf\xE9", 5)},  // not UTF-8: as typed
      {"\xE6\x97\xA5\xE6\x9C\xAC",
       std::string("\x01\xFF\xFE\xE5\x65\x2C\x67", 7)},
      {"a\xF0\x9F\x98\x80", std::string("\x01\xFF\xFE"
                                        "a\0\x3D\xD8\x00\xDE",
                                        9)},
  };
  for (const auto& [typed, payload] : cases) {
    WriteFile(file_, audio_);
    EXPECT_EQ(RawFrame(Edit({"-set", "title", typed}), "TIT2"), payload)
        << typed;
  }
  WriteFile(file_, audio_);
  EXPECT_EQ(RawFrame(Edit({"-set", "comment", "\xE2\x99\xA5"}), "COMM"),
            std::string("\x01XXX\0\0\xFF\xFE\x65\x26", 10));
}

TEST_F(TagEditTest, EveryKindOfMpegAudioIsTagged) {
  auto frames = [](const char* header, size_t length, size_t count = 3) {
    return MpegFrames(count, 1, std::string(header, 4), length);
  };
  // Audio only, so what follows the new tag is exactly the audio.
  const std::pair<const char*, std::string> cases[] = {
      {"MPEG-2 layer III", frames("\xFF\xF3\x80\0", 208)},
      {"MPEG-2.5 layer III", frames("\xFF\xE3\x40\0", 208)},
      {"MPEG-1 layer I", frames("\xFF\xFF\x40\0", 136)},
      {"MPEG-1 layer II", frames("\xFF\xFD\x80\0", 417)},
      {"padded frames", frames("\xFF\xFB\x92\0", 418)},
      {"one frame", frames("\xFF\xFB\x90\0", 417, 1)},
      {"junk first", std::string(4000, '\0') + "junk" + audio_},
  };
  for (const auto& [name, audio] : cases) {
    WriteFile(file_, audio);
    ASSERT_NO_THROW(Edit({"-set", "title", "T"})) << name;
    EXPECT_TRUE(AudioOf(ReadFile(file_)) == audio) << name;
  }
  // A second tag is audio to the edit, but does not hide the audio behind it.
  std::string second = Id3v2(3, TextFrame("TIT2", "2"), 65536);
  WriteFile(file_, Id3v2(3, TextFrame("TIT2", "1")) + second + audio_);
  EXPECT_TRUE(AudioOf(Edit({"-set", "title", "T"})) == second + audio_);
}

}  // namespace
}  // namespace tagedit
