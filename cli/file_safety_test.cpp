// The file under stress, through the built binary: links, owners, hostile
// tags, concurrent editors, signals and crashes, large files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/falloc.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "test/support.h"

namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

const std::string kAudio = Mpeg(30);

// What the binary lists for `file`.
std::string Listed(const std::string& file) {
  return RunTagwell({"--list", file}).out;
}

struct stat Stat(const std::string& path) {
  struct stat status {};
  lstat(path.c_str(), &status);
  return status;
}

TEST(FileSafety, LinksOwnerAndModeSurviveARewrite) {
  TempDir dir;
  WriteFile(dir / "real.mp3", kAudio);
  symlink("real.mp3", (dir / "link.mp3").c_str());
  chown((dir / "real.mp3").c_str(), 65534, 65534);  // where root runs this
  chmod((dir / "real.mp3").c_str(), 02640);
  struct stat before = Stat(dir / "real.mp3");
  ASSERT_EQ(RunTagwell({dir / "link.mp3", "-set", "title", "T"}).status, 0);
  struct stat after = Stat(dir / "real.mp3");
  EXPECT_TRUE(S_ISLNK(Stat(dir / "link.mp3").st_mode) &&
              Listed(dir / "real.mp3") == "title: T\n");
  EXPECT_EQ(std::tuple(after.st_mode, after.st_uid, after.st_gid),
            std::tuple(before.st_mode, before.st_uid, before.st_gid));
}

// Mutated tags never crash the tool, hang it or cost audio.
TEST(FileSafety, MutatedTagsNeverCostTheAudio) {
  const std::string tags[] = {
      Id3v2(2, Text("TT2", "Title") + Frame("COM", std::string("\0eng\0c", 6)),
            40),
      Id3v2(3, Text("TIT2", "Title") + Frame("APIC", std::string(60, 'p')), 40),
      Id3v2(4, Text("TIT2", "T", 4) + Text("TRCK", "3/9", 4), 40, 0x80)};
  std::mt19937 random(20261206);
  TempDir dir;
  int edited = 0;
  for (int round = 0; round < 300; ++round) {
    std::string tag = tags[round % 3];
    // Any byte but the size: a size grown into the audio makes it tag.
    for (int k = 1 + random() % 4; k > 0; --k) {
      size_t at = 9 + random() % (tag.size() - 9);
      tag[at == 9 ? 5 : at] = static_cast<char>(random());
    }
    WriteFile(dir / "song.mp3", tag + kAudio);
    int status = RunTagwell({dir / "song.mp3", "-set", "title", "T"}).status;
    std::string after = ReadFile(dir / "song.mp3");
    edited += status == 0;
    EXPECT_TRUE(status == 0 ? AudioOf(after) == kAudio
                            : status == 1 && after == tag + kAudio)
        << round;
  }
  EXPECT_GT(edited, 100);
}

TEST(FileSafety, TwoEditorsOfOneFileBothLand) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  for (int round = 0; round < 40; ++round) {
    // Untagged, the first editor renames a new file over the one the second
    // waits for; padded, both edit in place.
    WriteFile(file, round % 2 == 0 ? kAudio : Id3v2(3, "", 3000) + kAudio);
    pid_t first = StartTagwell({file, "-set", "title", std::to_string(round)});
    pid_t second = StartTagwell({file, "-set", "artist", "a"});
    EXPECT_EQ(ExitStatus(first) + ExitStatus(second), 0) << round;
    EXPECT_EQ(Listed(file),
              "artist: a\ntitle: " + std::to_string(round) + "\n");
    EXPECT_TRUE(AudioOf(ReadFile(file)) == kAudio) << round;
  }
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  flock(fd, LOCK_EX);  // as another edit would
  pid_t waiting = StartTagwell({file, "-set", "title", "late"});
  usleep(300000);
  EXPECT_EQ(Listed(file), "artist: a\ntitle: 39\n");
  close(fd);
  EXPECT_EQ(ExitStatus(waiting), 0);
  EXPECT_EQ(Listed(file), "artist: a\ntitle: late\n");
}

// A crash in an earlier edit left zero blocks an insert put in front of the
// tag, and a rewrite's named new file; the next edit clears both away. So do
// signals at any moment of a rewrite, which leave the old file or the new one.
TEST(FileSafety, CrashesAndSignalsLeaveTheOldFileOrTheNewOne) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  WriteFile(file, std::string(Stat(dir.path()).st_blksize, '\0') +
                      Id3v2(3, Text("TPE1", "K"), 99) + kAudio);
  WriteFile(dir / ".song.mp3.tagwell", kAudio);
  ASSERT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0);
  EXPECT_EQ(Frames(ReadFile(file)), Text("TPE1", "K") + Text("TIT2", "T"));
  EXPECT_TRUE(AudioOf(ReadFile(file)) == kAudio);
  const std::string original = Mpeg(40000);  // about 16 MB
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL};
  std::mt19937 random(7);
  for (int round = 0; round < 16; ++round) {
    WriteFile(file, original);
    pid_t pid = StartTagwell({file, "-set", "title", "T"});
    usleep(random() % 100000);
    kill(pid, signals[round % 4]);
    ExitStatus(pid);
    std::string after = ReadFile(file);
    EXPECT_TRUE(after == original || (Frames(after) == Text("TIT2", "T") &&
                                      AudioOf(after) == original))
        << round;
    if (dir.Names().size() > 1) RunTagwell({file, "-set", "title", "T"});
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.mp3"}) << round;
  }
}

TEST(LargeFiles, GrownTagsGetRoomInsertedOrACopy) {
  const std::string audio = Mpeg(81000);  // 33.8 MB
  for (const std::string parent : {"/tmp", "/dev/shm"}) {
    TempDir dir(parent);
    std::string file = dir / "song.mp3";
    WriteFile(file, audio);
    int fd = open(file.c_str(), O_RDWR);
    bool inserts = fallocate(fd, FALLOC_FL_INSERT_RANGE, 0, 4096) == 0;
    close(fd);
    WriteFile(file, audio);
    ino_t inode = Stat(file).st_ino;
    ASSERT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0);
    EXPECT_TRUE(AudioOf(ReadFile(file)) == audio) << parent;
    EXPECT_EQ(Stat(file).st_ino == inode, inserts) << parent;
    if (!inserts) continue;
    size_t room = V2TagSize(ReadFile(file));
    EXPECT_EQ(room % Stat(file).st_blksize, 0u);
    // Its last frame removed, the tag keeps its room as padding.
    ASSERT_EQ(RunTagwell({file, "-set", "title", ""}).status, 0);
    EXPECT_TRUE(V2TagSize(ReadFile(file)) == room &&
                Frames(ReadFile(file)).empty());
    // A write failing after the insert takes the room out again; the file's
    // time shows that it was written to, and not just left alone.
    WriteFile(file, audio);
    timespec old_times[2] = {{946684800, 0}, {946684800, 0}};
    utimensat(AT_FDCWD, file.c_str(), old_times, 0);
    RunResult result = RunTagwell({file, "-set", "title", "T"}, [&] {
      rlimit limit{audio.size() + room, audio.size() + room};
      setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(result.out, "File error. Cannot write the file.");
    EXPECT_TRUE(Stat(file).st_mtime != 946684800 && ReadFile(file) == audio);
  }
}

}  // namespace
