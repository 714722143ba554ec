// The file under stress, through the built binary: links, owners, hostile
// tags, concurrent editors, signals and crashes, large files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/falloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "test/support.h"

namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

const std::string kAudio = Mpeg(30);

struct stat Stat(const std::string& path) {
  struct stat status {};
  lstat(path.c_str(), &status);
  return status;
}

// Two editors of one file, through a symbolic link. Untagged, the first
// renames a new file over the one the second waits for; padded, both edit in
// place. Both edits land, and the link, the owner and the mode stay.
TEST(FileSafety, TwoEditorsOfOneFileBothLand) {
  TempDir dir;
  const std::string file = dir / "real.mp3", link = dir / "song.mp3";
  const std::string title = Text("TIT2", "T"), artist = Text("TPE1", "a");
  WriteFile(file, kAudio);
  symlink("real.mp3", link.c_str());
  chown(file.c_str(), 65534, 65534);  // where root runs this
  chmod(file.c_str(), 02640);
  struct stat before = Stat(file);
  for (int round = 0; round < 40; ++round) {
    WriteFile(link, round % 2 == 0 ? kAudio : Id3v2(3, "", 3000) + kAudio);
    pid_t first = StartTagwell({link, "-set", "title", "T"});
    pid_t second = StartTagwell({link, "-set", "artist", "a"});
    EXPECT_EQ(ExitStatus(first) + ExitStatus(second), 0) << round;
    std::string after = ReadFile(file);
    EXPECT_TRUE(AudioOf(after) == kAudio && (Frames(after) == title + artist ||
                                             Frames(after) == artist + title))
        << round;
    struct stat now = Stat(file);
    EXPECT_EQ(std::tuple(S_ISLNK(Stat(link).st_mode), now.st_mode, now.st_uid,
                         now.st_gid),
              std::tuple(true, before.st_mode, before.st_uid, before.st_gid))
        << round;
  }
}

// A crash in an earlier edit left zero blocks an insert put in front of the
// tag, and a rewrite's named new file; the next edit clears both away. So do
// signals at any moment of a rewrite, which leave the old file or the new one.
TEST(FileSafety, CrashesAndSignalsLeaveTheOldFileOrTheNewOne) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  WriteFile(file, std::string(Stat(dir / ".").st_blksize, '\0') +
                      Id3v2(3, Text("TPE1", "K"), 99) + kAudio);
  WriteFile(dir / ".song.mp3.tagwell", kAudio);
  EXPECT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0);
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

// Where the file system can, room is inserted in front of the audio, else the
// file is copied; a write failing after the insert takes the room out again
// (the file's time shows that it was written to).
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
    EXPECT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0) << parent;
    EXPECT_TRUE(AudioOf(ReadFile(file)) == audio) << parent;
    EXPECT_EQ(Stat(file).st_ino == inode, inserts) << parent;
    if (!inserts) continue;
    size_t room = V2TagSize(ReadFile(file));
    EXPECT_EQ(room % Stat(file).st_blksize, 0u);
    WriteFile(file, audio);
    timespec old_times[2] = {{946684800, 0}, {946684800, 0}};
    utimensat(AT_FDCWD, file.c_str(), old_times, 0);
    EXPECT_EQ(
        RunTagwell({file, "-set", "title", "T"}, SizeLimit(audio.size() + room))
            .out,
        "File error. Cannot write the file.");
    EXPECT_TRUE(Stat(file).st_mtime != 946684800 && ReadFile(file) == audio);
  }
}

}  // namespace
