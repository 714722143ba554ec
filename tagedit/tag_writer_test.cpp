// The writer driven directly, where the binary cannot make a race or a
// choice of size deterministic.
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

using namespace testing_support;  // NOLINT: the fixture is this file's
                                  // vocabulary

TEST(TagWriter, KeepsFittingRoomElsePadsAtLeast1KiBTo2KiBFiles) {
  constexpr uint64_t kLarge = uint64_t{40} << 20;
  struct Case {
    uint64_t needed, old_size, audio, expected;
  };
  const Case cases[] = {
      {0, 2048, 10000, 0},          // no frame left: no tag
      {0, 8192, kLarge, 8192},      // but a large file keeps its room
      {500, 2048, 10000, 2048},     // fits the old room
      {500, 4595, 10000, 4595},     // 4095 to spare still fits
      {500, 4596, 10000, 2160},     // 4096 to spare: shrinks
      {3000, 2048, 10000, 4208},    // grows: 3000 + 1208 padding
      {896, 0, 0, 1920},            // exactly 1 KiB of padding
      {897, 0, 0, 3968},            // one byte more: 2 KiB more
      {500, 8192, kLarge, 8192},    // a large file keeps any room
      {9000, 8192, kLarge, 10112},  // a large file's growth is padded too
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseV2Size(c.needed, c.old_size, c.audio), c.expected)
        << c.needed << " " << c.old_size;
  }
  std::string v2 = std::string("ID3\x03\0\0\0\0\0\x03", 10) + "abc";
  EXPECT_EQ(PadV2(v2, 300), std::string("ID3\x03\0\0\0\0\x02\x22", 10) + "abc" +
                                std::string(287, '\0'));
  EXPECT_EQ(PadV2(v2, 0), "");
}

// A new tag holding a title, for `file`.
void WriteTitle(const TagFile& file) {
  V2Tag tag;
  tag.frames.push_back(MakeFrame(tag, "TIT2", std::string("\0New", 4)));
  WriteTags(file, tag, "TAG" + std::string(kV1Size - 3, '\0'));
}

// Another user swaps a name the edit went through for a symbolic link after
// the file was opened; nothing the link leads to may change.
TEST(TagWriter, WritesOnlyTheFileItOpened) {
  const std::string tagged = Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5);
  struct Case {
    const char* name;
    std::string content;
    bool directory;  // the directory is swapped, not the file
    bool written;    // the opened file gets the new tag
  };
  const Case cases[] = {{"file swapped, in place", tagged, false, true},
                        {"file swapped, rewrite", Mpeg(5), false, false},
                        {"directory swapped, rewrite", Mpeg(5), true, true}};
  for (const Case& c : cases) {
    TempDir root;
    mkdir((root / "music").c_str(), 0755);
    mkdir((root / "victim").c_str(), 0755);
    WriteFile(root / "music/song.mp3", c.content);
    WriteFile(root / "victim/song.mp3", "precious");
    TagFile file = OpenTagFile(root / "music/song.mp3");
    std::string from = root / (c.directory ? "music" : "music/song.mp3");
    std::string moved = root / (c.directory ? "moved/song.mp3" : "music/moved");
    rename(from.c_str(),
           (root / (c.directory ? "moved" : "music/moved")).c_str());
    symlink((root / (c.directory ? "victim" : "victim/song.mp3")).c_str(),
            from.c_str());
    if (c.written) {
      EXPECT_NO_THROW(WriteTitle(file)) << c.name;
      EXPECT_EQ(Frames(ReadFile(moved)),
                (FrameList{{"TIT2", std::string("\0New", 4)}}))
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
  for (const std::string& content :
       {Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5), Mpeg(5)}) {
    WriteFile(path, content);
    TagFile file = OpenTagFile(path);
    std::ofstream(path, std::ios::app) << "more";  // still being downloaded
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
