// The writer driven directly, where the binary cannot make a race or a
// choice of size deterministic.
#include "tagedit/tag_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tagedit/edit_error.h"
#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

TEST(TagWriter, KeepsFittingRoomElsePadsAtLeast1KiBTo2KiBFiles) {
  constexpr uint64_t kLarge = uint64_t{40} << 20;
  // needed, old size, audio, the size chosen. No frame: no tag, but a large
  // file's room; 4095 to spare fits, 4096 shrinks; at least 1 KiB of padding,
  // to 2 KiB; a large file keeps any room.
  // clang-format off
  const uint64_t cases[][4] = {
      {0, 2048, 10000, 0}, {0, 8192, kLarge, 8192}, {500, 4595, 10000, 4595}, {500, 4596, 10000, 2160},
      {3000, 2048, 10000, 4208}, {896, 0, 0, 1920}, {897, 0, 0, 3968}, {500, 8192, kLarge, 8192},
      {9000, 8192, kLarge, 10112}};
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(ChooseV2Size(c[0], c[1], c[2]), c[3]) << c[0] << " " << c[1];
  EXPECT_EQ(PadV2(Id3v2(3, "abc"), 0), "");  // no tag at all
  EXPECT_THROW(PadV2(Id3v2(3, "abc"), 10 + (uint64_t{1} << 28)), EditError);
}

// Writes a new tag holding a title into `file`; what that throws, if anything.
std::string WriteTitle(const TagFile& file) {
  V2Tag tag{3, 0, 0, "", {MakeFrame(V2Tag{}, "TIT2", "\0New"s)}};
  try {
    WriteTags(file, tag, Id3v1({}, 0, 255));
  } catch (const EditError& error) {
    return error.what();
  }
  return "";
}

// Between the open and the write another user swaps the file, or its
// directory, for a symbolic link into "victim", or the file grows. The file
// opened gets the tag, or nothing changes; nothing a link leads to does.
TEST(TagWriter, WritesOnlyTheFileItOpenedAsItWasRead) {
  const std::string tagged = Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5);
  const std::string changed = "File error. The file changed during the edit.";
  struct Case {
    std::string content;
    std::string swapped, moved;  // renamed, and replaced by a link; or none
    std::string opened;          // where the file opened is then
    std::string error;           // what the write throws
  };
  // clang-format off
  const Case cases[] = {
      {tagged, "music/song.mp3", "music/moved", "music/moved", ""},  // in place
      {Mpeg(5), "music/song.mp3", "music/moved", "music/moved", "File error. Cannot write the file."},  // rewrite
      {Mpeg(5), "music", "moved", "moved/song.mp3", ""},
      {tagged, "", "music/song.mp3", "music/song.mp3", changed},  // still downloading
      {Mpeg(5), "", "music/song.mp3", "music/song.mp3", changed},
  };
  // clang-format on
  for (const Case& c : cases) {
    TempDir root;
    mkdir((root / "music").c_str(), 0755);
    mkdir((root / "victim").c_str(), 0755);
    WriteFile(root / "music/song.mp3", c.content);
    WriteFile(root / "victim/song.mp3", "precious");
    TagFile file = OpenTagFile(root / "music/song.mp3");
    if (c.swapped.empty()) {
      std::ofstream(root / c.moved, std::ios::app) << "more";
    } else {
      rename((root / c.swapped).c_str(), (root / c.moved).c_str());
      symlink((root / ("victim" + c.swapped.substr(5))).c_str(),
              (root / c.swapped).c_str());
    }
    EXPECT_EQ(WriteTitle(file), c.error) << c.swapped;
    std::string after = ReadFile(root / c.opened);
    EXPECT_TRUE(c.error.empty()
                    ? Frames(after) == Text("TIT2", "New")
                    : after == c.content + (c.swapped.empty() ? "more" : ""))
        << c.swapped;
    EXPECT_EQ(ReadFile(root / "victim/song.mp3"), "precious") << c.swapped;
  }
}

}  // namespace
}  // namespace tagedit
