#include "tagedit/tag_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tagedit/edit_error.h"
#include "tagedit/id3v1.h"
#include "test/support.h"

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

namespace tagedit {
namespace {

using testing_support::Id3v2;
using testing_support::MpegFrames;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::TextFrame;
using testing_support::WriteFile;

// A new tag holding a title, for `file`.
void WriteTitle(const TagFile& file) {
  V2Tag tag;
  tag.frames.push_back(MakeFrame(tag, "TIT2", std::string("\0New", 4)));
  WriteTags(file, tag, std::string(kV1Size, '\0').replace(0, 3, "TAG"));
}

// Another user swaps a name the edit went through for a symbolic link after
// the file was opened; nothing the link leads to may change.
TEST(TagWriter, WritesOnlyTheFileItOpened) {
  const std::string tagged =
      Id3v2(3, TextFrame("TIT2", "Old"), 2000) + MpegFrames(5);
  const std::string untagged = MpegFrames(5);
  struct Case {
    const char* name;
    std::string content;
    const char* swapped;  // "file" or "dir"
    bool written;         // the opened file gets the new tag
  };
  const Case cases[] = {
      {"file swapped, in place", tagged, "file", true},
      {"file swapped, rewrite", untagged, "file", false},
      {"directory swapped, rewrite", untagged, "dir", true},
  };
  for (const Case& c : cases) {
    TempDir root;
    mkdir((root / "music").c_str(), 0755);
    mkdir((root / "victim").c_str(), 0755);
    WriteFile(root / "music/song.mp3", c.content);
    WriteFile(root / "victim/song.mp3", "precious");
    TagFile file = OpenTagFile(root / "music/song.mp3");
    if (std::string(c.swapped) == "file") {
      rename((root / "music/song.mp3").c_str(), (root / "music/moved").c_str());
      symlink((root / "victim/song.mp3").c_str(),
              (root / "music/song.mp3").c_str());
    } else {
      rename((root / "music").c_str(), (root / "moved").c_str());
      symlink((root / "victim").c_str(), (root / "music").c_str());
    }
    std::string moved =
        root /
        (std::string(c.swapped) == "file" ? "music/moved" : "moved/song.mp3");
    if (c.written) {
      EXPECT_NO_THROW(WriteTitle(file)) << c.name;
      EXPECT_EQ(testing_support::RawFrame(ReadFile(moved), "TIT2"),
                std::string("\0New", 4))
          << c.name;
    } else {
      EXPECT_THROW(WriteTitle(file), EditError) << c.name;
      EXPECT_EQ(ReadFile(moved), c.content) << c.name;
    }
    EXPECT_EQ(ReadFile(root / "victim/song.mp3"), "precious") << c.name;
  }
}

TEST(TagWriter, AFileChangedSinceItWasReadIsNotWritten) {
  TempDir dir;
  std::string path = dir / "song.mp3";
  const std::string audio = MpegFrames(5);
  for (const std::string& content :
       {Id3v2(3, TextFrame("TIT2", "Old"), 2000) + audio, audio}) {
    WriteFile(path, content);
    TagFile file = OpenTagFile(path);
    // Still being downloaded, say.
    std::ofstream(path, std::ios::app) << "more";
    try {
      WriteTitle(file);
      ADD_FAILURE() << "written";
    } catch (const EditError& error) {
      EXPECT_STREQ(error.what(),
                   "File error. The file changed during the edit.");
    }
    EXPECT_EQ(ReadFile(path), content + "more");
  }
}

}  // namespace
}  // namespace tagedit
