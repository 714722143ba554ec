// The writer driven directly, where the binary cannot make a race or a
// choice of size deterministic.
#include "tagedit/tag_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <utility>

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"
#include "tagedit/id3v1.h"
#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

// A tag without room: the title set makes it grow, into a new file.
const std::string kTight = Id3v2(3, Text("TPE1", "A")) + Mpeg(5);

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
    EXPECT_EQ(ChooseV2Size(c[0], c[1], c[2], c[2] == kLarge), c[3]) << c[0];
  EXPECT_EQ(PadV2(Id3v2(3, "abc"), 0), "");  // no tag at all
  EXPECT_THROW(PadV2(Id3v2(3, "abc"), 10 + (uint64_t{1} << 28)), EditError);
}

// Fails the call numbered `fail_at` (from 0), as a full disk, a full
// copy-on-write file system or an I/O error would.
class FailingOps : public FileOps {
 public:
  // `instead`, if given, runs in place of the failure.
  explicit FailingOps(int fail_at, std::function<void()> instead = nullptr)
      : left_(fail_at), instead_(std::move(instead)) {}
  bool Proceed(const char* name) override {
    if (left_-- != 0) return true;
    failed_call = name;
    if (instead_) instead_();
    // A failing exchange is one the file system does not support.
    errno = failed_call == "Exchange" ? EINVAL : ENOSPC;
    return instead_ != nullptr;
  }
  bool failed() const { return left_ < 0; }
  std::string failed_call;

 private:
  int left_;
  std::function<void()> instead_;
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
  // The content; the name renamed to `moved` and replaced by a link, or
  // none; where the file opened is then; what the write throws; whether the
  // swap comes as the names are exchanged, and the exchange back fails.
  struct Case {
    std::string content, swapped, moved, opened, error;
    bool late = false, fail_back = false;
  };
  // Swaps when a new file is about to take the name.
  struct LateOps : FileOps {
    std::function<void()> swap;
    bool fail_back = false;
    bool Exchange(int dir, const std::string& a,
                  const std::string& b) override {
      if (swap) {
        std::exchange(swap, nullptr)();
      } else if (fail_back) {
        return false;
      }
      return FileOps::Exchange(dir, a, b);
    }
  };
  // clang-format off
  const Case cases[] = {
      {tagged, "music/song.mp3", "music/moved", "music/moved", ""},  // in place
      {kTight, "music/song.mp3", "music/moved", "music/moved", changed},  // rewrite
      {kTight, "music/song.mp3", "music/moved", "music/moved", changed, true},
      {kTight, "music/song.mp3", "music/moved", "music/moved", changed, true, true},
      {kTight, "music", "moved", "moved/song.mp3", ""},
      {tagged, "", "music/song.mp3", "music/song.mp3", changed},  // still downloading
      {Mpeg(5), "", "music/song.mp3", "music/song.mp3", changed},
  };
  // clang-format on
  for (const Case& c : cases) {
    TempDir root;
    mkdir((root / "music").c_str(), 0755),
        mkdir((root / "victim").c_str(), 0755);
    WriteFile(root / "music/song.mp3", c.content);
    WriteFile(root / "victim/song.mp3", "precious");
    TagFile file = OpenTagFile(root / "music/song.mp3");
    LateOps ops;
    ops.fail_back = c.fail_back;
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
    // The link put there is never removed: swapped back, or beside the name.
    auto entries = std::filesystem::directory_iterator(root / "music");
    EXPECT_TRUE(!c.late || std::distance(entries, {}) == 2 + c.fail_back);
  }
}

// A file another program puts under the new file's temporary name is never
// removed.
TEST(TagWriter, RemovesOnlyWhatItMade) {
  TempDir dir;
  WriteFile(dir / "song.mp3", kTight), WriteFile(dir / "theirs", "theirs");
  struct Ops : FileOps {
    std::string dir;
    bool Exchange(int, const std::string& a, const std::string&) override {
      rename((dir + "theirs").c_str(), (dir + a).c_str());
      errno = EIO;
      return false;
    }
  } ops;
  ops.dir = dir / "";
  EXPECT_EQ(WriteTitle(OpenTagFile(dir / "song.mp3"), ops),
            "File error. Cannot write the file.");
  EXPECT_TRUE(ReadFile(dir / "song.mp3") == kTight && dir.Entries() == 2);
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
// ID3v1 tag, room inserted into a file of two names or without a tag, a new
// file), the file is byte for byte as it was, or it holds the new tags and
// the write says so.
TEST(TagWriter, AnyFailingCallLeavesTheOldFileOrReportsTheNewOne) {
  const std::string old = Id3v2(3, Text("TPE1", "A")),
                    v1 = Id3v1({"Old"}, 0, 255);
  const std::string contents[] = {
      Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5),
      Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5) + v1,
      old + Mpeg(5),
      old + Mpeg(5) + v1,
      old + Mpeg(5),
      Mpeg(5)};
  for (const std::string& content : contents) {
    bool linked = &content - contents == 2 || &content - contents == 3;
    for (int fail_at = 0;; ++fail_at) {
      SCOPED_TRACE(std::to_string(&content - contents) + " " +
                   std::to_string(fail_at));
      TempDir dir;
      WriteFile(dir / "song.mp3", content);
      ASSERT_TRUE(!linked || link((dir / "song.mp3").c_str(),
                                  (dir / "other").c_str()) == 0);
      // At the same call, another program appends audio instead: never cut.
      TempDir grown;
      WriteFile(grown / "song.mp3", content);
      FailingOps appending(fail_at, [&] {
        std::ofstream(grown / "song.mp3", std::ios::app) << "MORE";
      });
      WriteTitle(OpenTagFile(grown / "song.mp3"), appending);
      std::string more = ReadFile(grown / "song.mp3");
      EXPECT_TRUE(more.find(AudioOf(content)) != std::string::npos &&
                  (!appending.failed() || more.find("MORE") != more.npos) &&
                  grown.Entries() == 1)
          << appending.failed_call;
      FailingOps ops(fail_at);
      std::string error = WriteTitle(OpenTagFile(dir / "song.mp3"), ops);
      std::string after = ReadFile(dir / "song.mp3");
      bool is_new = Frames(after) == Text("TIT2", "New") &&
                    after.substr(after.size() - 128) == Id3v1({"New"}, 0, 255);
      // Only the folder's sync comes after the new file took the name, and
      // only the old file's removal after that, which the next run does.
      // Without exchange, a rename after the same check does.
      EXPECT_TRUE(error.empty()
                      ? is_new
                      : (after == content && ops.failed_call != "Exchange") ||
                            (is_new && ops.failed_call == "Sync"));
      EXPECT_EQ(dir.Entries(),
                (linked ? 2u : 1u) + (ops.failed_call == "Unlink"));
      EXPECT_TRUE(!linked || ReadFile(dir / "other") == after);
      if (!ops.failed()) break;
    }
  }
}

// An ID3v1 append a kill stopped at a page boundary left, in front of it,
// the tag's first bytes, or, where one or two bytes were, the rest behind
// zeros; either is no audio, and the next edit ends exactly as it would have
// on the file as it was. An untorn end is no stump.
TEST(TagWriter, WhatAKilledAppendLeftIsCompletedExactly) {
  const std::string v1 = Id3v1({"Old"}, 0, 255);
  const std::string tag = Id3v2(3, Text("TIT2", "Old"), 2000);
  for (size_t head : {1, 2, 3, 77, 127, 128, 4000}) {
    SCOPED_TRACE(head);
    // Audio ending `head` bytes before a page boundary.
    std::string clean = tag + Mpeg(5);
    clean += std::string((8192 - head - clean.size() % 4096) % 4096, 'x');
    std::string torn =
        clean + (head >= 128 ? ""
                 : head < 3  ? std::string(head, '\0') + v1.substr(head)
                             : v1.substr(0, head));
    TempDir dir;
    WriteFile(dir / "clean.mp3", clean), WriteFile(dir / "torn.mp3", torn);
    std::string edited = Edit(dir / "clean.mp3", {"-set", "title", "New"});
    EXPECT_EQ(edited.substr(edited.size() - 128), Id3v1({"New"}, 0, 255));
    EXPECT_EQ(Edit(dir / "torn.mp3", {"-set", "title", "New"}), edited);
  }
  // A kill between inserting room and writing the tag left a block of zeros:
  // room, which the next edit fills as the insert would have.
  TempDir dir;
  WriteFile(dir / "zeros.mp3", std::string(4096, '\0') + Mpeg(5));
  std::string edited = Edit(dir / "zeros.mp3", {"-set", "title", "New"});
  EXPECT_TRUE(V2TagSize(edited) == 4096 && AudioOf(edited) == Mpeg(5));
}

// Sets, in a batch, a title on a file that gets a new file, one edited in
// place and another new one, while the calls named fail, and the write
// numbered `full_at` finds the disk full; what each report says.
std::vector<std::string> BatchReports(const TempDir& dir,
                                      std::set<std::string> failing,
                                      int full_at = -1, int cause = ENOSPC) {
  struct Ops : FileOps {
    std::set<std::string> failing;
    int writes_left, cause;
    bool Proceed(const char* name) override {
      bool hit = name == "Write"s && writes_left-- == 0;
      errno = hit ? cause : EIO;
      return !hit && failing.count(name) == 0;
    }
  } ops;
  ops.failing = std::move(failing), ops.writes_left = full_at;
  ops.cause = cause;
  EditCommand command{{}, {{FindField("title"), "New"}}};
  std::vector<BatchFile> files;
  for (const char* name : {"none.mp3", "room.mp3", "late.mp3"}) {
    files.push_back({dir / name, &command});
    WriteFile(dir / name, name[0] == 'r'
                              ? Id3v2(3, Text("TIT2", "Old"), 2000) + Mpeg(5)
                              : kTight);
  }
  std::vector<std::string> reports;
  auto report = [&](const EachResult& result) {
    try {
      if (result.failure) std::rethrow_exception(result.failure);
      reports.push_back("done");
    } catch (const EditError& error) {
      reports.push_back(error.what() + " "s + strerror(error.cause()));
    }
  };
  ApplyTagEditsToFiles(files, report, ops);
  return reports;
}

// Where the batch's sync of the file system fails, each file is synced
// alone, and one whose sync fails is reported failed with its cause, its
// new file never put in place nor left behind. A file that finds the disk
// full while new files wait is tried again once they are in place.
TEST(TagWriter, ABatchReportsDoneOnlyWhatIsDurable) {
  const std::string failed = kCannotWrite + " Input/output error"s;
  const std::string set = Text("TIT2", "New") + Text("TPE1", "A");
  const std::vector<std::string> done{"done", "done", "done"};
  TempDir dir;
  EXPECT_EQ(BatchReports(dir, {"SyncFileSystem"}), done);
  EXPECT_EQ(Frames(ReadFile(dir / "none.mp3")), set);
  EXPECT_EQ(BatchReports(dir, {"SyncFileSystem", "Flush"}),
            (std::vector<std::string>{failed, failed, failed}));
  EXPECT_TRUE(ReadFile(dir / "none.mp3") == kTight && dir.Entries() == 3);
  EXPECT_EQ(BatchReports(dir, {}, 4), done);  // the first write of late.mp3
  EXPECT_EQ(Frames(ReadFile(dir / "late.mp3")), set);
  EXPECT_EQ(BatchReports(dir, {}, 4, EIO),  // only a full disk is retried
            (std::vector<std::string>{"done", "done", failed}));
}

// SIGINT, SIGTERM or SIGHUP arriving while the audio is copied stop the
// copy, and the file stays as it was.
TEST(TagWriter, ASignalStopsACopyAndLeavesTheFile) {
  sigset_t interrupt, old;
  sigemptyset(&interrupt), sigaddset(&interrupt, SIGINT);
  sigprocmask(SIG_BLOCK, &interrupt, &old);
  TempDir dir;
  const std::string content = Id3v2(3, Text("TPE1", "A")) + Mpeg(400);
  WriteFile(dir / "song.mp3", content);
  FailingOps ops(1, [] { raise(SIGINT); });  // at the first chunk
  EXPECT_EQ(WriteTitle(OpenTagFile(dir / "song.mp3"), ops),
            "File error. Cannot write the file.");
  EXPECT_TRUE(ReadFile(dir / "song.mp3") == content && dir.Entries() == 1);
  const timespec now{};
  EXPECT_EQ(sigtimedwait(&interrupt, nullptr, &now), SIGINT);
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

// A file of two names keeps the room inserted once: emptied and set again,
// it does not grow.
TEST(TagWriter, ALinkedFileKeepsTheRoomItGot) {
  TempDir dir;
  WriteFile(dir / "song.mp3", Mpeg(5));
  ASSERT_EQ(link((dir / "song.mp3").c_str(), (dir / "other").c_str()), 0);
  std::vector<size_t> sizes;
  try {
    for (const char* title : {"A", "", "B", "", "C"})
      sizes.push_back(Edit(dir / "song.mp3", {"-set", "title", title}).size());
  } catch (const EditError&) {
    GTEST_SKIP() << "the file system cannot insert room";
  }
  EXPECT_EQ(sizes, std::vector<size_t>(5, sizes[0]));
}

}  // namespace
}  // namespace tagedit
