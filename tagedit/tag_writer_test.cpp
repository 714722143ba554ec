// The writer driven directly, where the binary cannot make a race or a
// choice of size deterministic.
#include "tagedit/tag_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <future>
#include <utility>

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

// Fails the call numbered `fail_at` (from 0), as a full disk, a full
// copy-on-write file system or an I/O error would.
class FailingOps : public FileOps {
 public:
  explicit FailingOps(int fail_at) : left_(fail_at) {}
  bool Proceed() override { return left_-- != 0; }
  bool failed() const { return left_ < 0; }

 private:
  int left_;
};

// Writes a new tag holding a title into `file`; what that throws, if anything.
std::string WriteTitle(const TagFile& file, FileOps& ops) {
  V2Tag tag;  // v2.3
  tag.frames = {MakeFrame(&tag, "TIT2", "\0New"s)};
  try {
    WriteTags(file, tag, Id3v1({"New"}, 0, 255), ops);
  } catch (const EditError& error) {
    return error.what();
  }
  return "";
}

// Between the open and the write, or in the last moment before a new file
// takes the name, another user swaps the file, or its directory, for a
// symbolic link into "victim", or the file grows. The file opened gets the
// tag, or nothing changes; nothing a link leads to does.
TEST(TagWriter, WritesOnlyTheFileItOpenedAsItWasRead) {
  const std::string tagged = Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5);
  const std::string changed = "File error. The file changed during the edit.";
  struct Case {
    std::string content;
    std::string swapped, moved;  // renamed, and replaced by a link; or none
    std::string opened;          // where the file opened is then
    std::string error;           // what the write throws
    bool late = false;           // swapped as the names are exchanged
  };
  // Swaps when a new file is about to take the name.
  struct LateOps : FileOps {
    std::function<void()> swap;
    bool Exchange(int dir, const std::string& a,
                  const std::string& b) override {
      if (swap) std::exchange(swap, nullptr)();
      return FileOps::Exchange(dir, a, b);
    }
  };
  // clang-format off
  const Case cases[] = {
      {tagged, "music/song.mp3", "music/moved", "music/moved", ""},  // in place
      {Mpeg(5), "music/song.mp3", "music/moved", "music/moved", "File error. Cannot write the file."},  // rewrite
      {Mpeg(5), "music/song.mp3", "music/moved", "music/moved", changed, true},
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
    LateOps ops;
    ops.swap = [&] {
      if (c.swapped.empty()) {
        std::ofstream(root / c.moved, std::ios::app) << "more";
      } else {
        rename((root / c.swapped).c_str(), (root / c.moved).c_str());
        ASSERT_EQ(symlink((root / ("victim" + c.swapped.substr(5))).c_str(),
                          (root / c.swapped).c_str()),
                  0);
      }
    };
    if (!c.late) std::exchange(ops.swap, nullptr)();
    EXPECT_EQ(WriteTitle(file, ops), c.error) << c.swapped;
    std::string after = ReadFile(root / c.opened);
    EXPECT_TRUE(c.error.empty()
                    ? Frames(after) == Text("TIT2", "New")
                    : after == c.content + (c.swapped.empty() ? "more" : ""))
        << c.swapped;
    EXPECT_EQ(ReadFile(root / "victim/song.mp3"), "precious") << c.swapped;
  }
}

// A lock held elsewhere is waited for, then reported. Meanwhile the name is
// given to a symbolic link, which is not followed, and the first file's lock
// is let go before the name is looked at again; or a folder on the way to the
// file, through a link, is swapped for a link, which redirects nothing.
TEST(TagWriter, WaitsForALockAndFollowsNoLinkPutThereMeanwhile) {
  // The name opened, the one then made a link, what opening throws.
  const std::string cases[][3] = {
      {"music/song.mp3", "music/song.mp3", "File error. Cannot open the file."},
      {"link.mp3", "music", ""}};
  for (const auto& [opened, swapped, error] : cases) {
    TempDir root;
    const std::string name = root / "music/song.mp3";
    mkdir((root / "music").c_str(), 0755),
        mkdir((root / "victim").c_str(), 0755);
    WriteFile(name, Mpeg(5)), WriteFile(root / "victim/song.mp3", Mpeg(5));
    ASSERT_EQ(symlink(name.c_str(), (root / "link.mp3").c_str()), 0);
    struct stat original;
    stat(name.c_str(), &original);
    auto open_within = [&](std::chrono::milliseconds wait) -> std::string {
      try {
        TagFile file = OpenTagFile(root / opened, wait);
        return SameInode(file.status, original) && StillNamed(file) ? "" : "?";
      } catch (const EditError& error) {
        return error.what();
      }
    };
    UniqueFd held(open(name.c_str(), O_RDONLY));
    flock(held.get(), LOCK_EX);
    EXPECT_EQ(open_within(std::chrono::milliseconds(50)),
              "File error. The file is in use by another program.");
    // Once the file is opened for reading (a path handle raises no IN_OPEN),
    // the edit waits for the lock.
    UniqueFd opens(inotify_init1(IN_CLOEXEC));
    inotify_add_watch(opens.get(), name.c_str(), IN_OPEN);
    auto result = std::async(std::launch::async, open_within,
                             std::chrono::milliseconds(10000));
    pollfd event{opens.get(), POLLIN, 0};
    ASSERT_EQ(poll(&event, 1, 10000), 1);
    rename((root / swapped).c_str(), (root / "moved").c_str());
    ASSERT_EQ(symlink((root / ("victim" + swapped.substr(5))).c_str(),
                      (root / swapped).c_str()),
              0);
    held.Reset();
    EXPECT_EQ(result.get(), error) << opened;
  }
}

// Whichever call fails, on every path (in place appending or overwriting the
// ID3v1 tag, room inserted into a file of two names, a new file), the file is
// byte for byte as it was, or it holds the new tags and the write says so.
TEST(TagWriter, AnyFailingCallLeavesTheOldFileOrReportsTheNewOne) {
  const std::string old = Id3v2(3, Text("TPE1", "A")),
                    v1 = Id3v1({"Old"}, 0, 255);
  const std::string contents[] = {
      Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5),
      Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5) + v1, old + Mpeg(5),
      old + Mpeg(5) + v1, Mpeg(5)};
  for (const std::string& content : contents) {
    bool linked = &content - contents == 2 || &content - contents == 3;
    for (int fail_at = 0;; ++fail_at) {
      SCOPED_TRACE(std::to_string(&content - contents) + " " +
                   std::to_string(fail_at));
      TempDir dir;
      WriteFile(dir / "song.mp3", content);
      ASSERT_TRUE(!linked || link((dir / "song.mp3").c_str(),
                                  (dir / "other").c_str()) == 0);
      FailingOps ops(fail_at);
      std::string error = WriteTitle(OpenTagFile(dir / "song.mp3"), ops);
      std::string after = ReadFile(dir / "song.mp3");
      EXPECT_TRUE(error.empty() ? Frames(after) == Text("TIT2", "New") &&
                                      after.substr(after.size() - 128) ==
                                          Id3v1({"New"}, 0, 255)
                                : after == content);
      EXPECT_EQ(dir.Entries(), linked ? 2u : 1u);
      EXPECT_TRUE(!linked || ReadFile(dir / "other") == after);
      if (!ops.failed()) break;
    }
  }
}

}  // namespace
}  // namespace tagedit
