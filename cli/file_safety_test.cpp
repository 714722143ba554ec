// Fault injection on real files through the built binary: every failure leaves
// the file byte-identical and no temporary file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/falloc.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "test/support.h"

namespace {

using testing_support::AudioOf;
using testing_support::BecomeNobody;
using testing_support::Frame;
using testing_support::Id3v2;
using testing_support::MpegFrames;
using testing_support::RawFrame;
using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::RunTagwell;
using testing_support::TempDir;
using testing_support::TextFrame;
using testing_support::WriteFile;

const char kCannotOpen[] = "File error. Cannot open the file.";
const char kNotMp3[] = "File error. Not an MP3 file.";
const char kUnsupported[] = "File error. Unsupported ID3v2 tag version.";
const char kCannotRead[] = "File error. Cannot read the tag.";
const char kCannotWrite[] = "File error. Cannot write the file.";

// Whether a child can become "nobody" and still run the binary; root ignores
// file modes, so permission cases must run unprivileged.
bool CanRunAsNobody() {
  const char* binary = testing_support::TagwellBinary().c_str();
  pid_t pid = fork();
  if (pid == 0) _exit(BecomeNobody() && access(binary, X_OK) == 0 ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void AsNobody() {
  if (!BecomeNobody()) _exit(126);
}

// A file-size limit of `bytes`, as a nearly full disk would impose; the
// binary must survive its signal on its own.
std::function<void()> FileSizeLimit(rlim_t bytes) {
  return [bytes] {
    rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
  };
}

const std::string kTagged =
    Id3v2(3, TextFrame("TIT2", "Old title") + TextFrame("TPE1", "Old artist"),
          50) +
    MpegFrames(30);

struct Fault {
  const char* name;
  std::string content;                          // of song.mp3
  std::function<void(const TempDir&)> prepare;  // after song.mp3 is written
  std::string target;                           // the name given to tagwell
  std::function<void()> in_child;
  bool unprivileged;
  std::string message;
};

TEST(FileSafety, EveryFailureLeavesTheFileAsItWas) {
  std::string past_end = Id3v2(3, TextFrame("TIT2", "t")) + MpegFrames(3);
  past_end[6] = 0x7F;
  auto tagged = [](int major, const std::string& frames, int flags = 0) {
    return Id3v2(major, frames, 10, flags) + MpegFrames(3);
  };
  const std::string audio = MpegFrames(3);
  const std::string untagged = MpegFrames(40);
  const Fault faults[] = {
      {"missing", "", nullptr, "absent.mp3", nullptr, false, kCannotOpen},
      {"directory", "",
       [](const TempDir& d) { mkdir((d / "sub").c_str(), 0755); }, "sub",
       nullptr, false, kCannotOpen},
      {"fifo", "", [](const TempDir& d) { mkfifo((d / "pipe").c_str(), 0644); },
       "pipe", nullptr, false, kCannotOpen},
      {"dangling link", "",
       [](const TempDir& d) { symlink("nowhere", (d / "l").c_str()); }, "l",
       nullptr, false, kCannotOpen},
      {"ID3v2.5", tagged(5, ""), nullptr, "song.mp3", nullptr, false,
       kUnsupported},
      {"size past the end", past_end, nullptr, "song.mp3", nullptr, false,
       kCannotRead},
      {"frame past the tag",
       tagged(3, "TIT2" + std::string("\0\0\0\x30\0\0\0x", 8)), nullptr,
       "song.mp3", nullptr, false, kCannotRead},
      {"frame id of bad bytes", tagged(3, TextFrame("TI\x01T", "x")), nullptr,
       "song.mp3", nullptr, false, kCannotRead},
      {"v2.2 flagged compressed", tagged(2, Frame("TT2", "\0x"), 0x40), nullptr,
       "song.mp3", nullptr, false, kCannotRead},
      {"v2.4 frame size neither reading fits",
       tagged(4, "TXXX" + std::string("\0\0\x01\0\0\0", 6) +
                     std::string(150, 'v')),
       nullptr, "song.mp3", nullptr, false, kCannotRead},
      {"empty", "", [](const TempDir& d) { WriteFile(d / "song.mp3", ""); },
       "song.mp3", nullptr, false, kNotMp3},
      {"tags only", Id3v2(3, TextFrame("TIT2", "t"), 10), nullptr, "song.mp3",
       nullptr, false, kNotMp3},
      {"text", std::string(5000, 'a'), nullptr, "song.mp3", nullptr, false,
       kNotMp3},
      {"FLAC behind an ID3v2 tag",
       Id3v2(3, TextFrame("TIT2", "t")) + "fLaC" + audio, nullptr, "song.mp3",
       nullptr, false, kNotMp3},
      {"Ogg", "OggS" + audio, nullptr, "song.mp3", nullptr, false, kNotMp3},
      {"WAV holding MPEG audio", "RIFF\x10\0\0\0WAVE" + audio, nullptr,
       "song.mp3", nullptr, false, kNotMp3},
      {"M4A",
       std::string("\0\0\0\x20"
                   "ftypM4A ",
                   12) +
           audio,
       nullptr, "song.mp3", nullptr, false, kNotMp3},
      {"bad bitrate", MpegFrames(3, 1, std::string("\xFF\xFB\xF0\0", 4)),
       nullptr, "song.mp3", nullptr, false, kNotMp3},
      {"reserved emphasis",
       MpegFrames(3, 1, std::string("\xFF\xFB\x90\x02", 4)), nullptr,
       "song.mp3", nullptr, false, kNotMp3},
      {"audio beyond the first 64 KiB", std::string(65536, 'j') + audio,
       nullptr, "song.mp3", nullptr, false, kNotMp3},
      {"disk full, rewrite", untagged, nullptr, "song.mp3",
       FileSizeLimit(untagged.size()), false, kCannotWrite},
      {"disk full, ID3v1 appended in place", kTagged, nullptr, "song.mp3",
       FileSizeLimit(kTagged.size()), false, kCannotWrite},
      {"unreadable", kTagged,
       [](const TempDir& d) { chmod((d / "song.mp3").c_str(), 0); }, "song.mp3",
       AsNobody, true, kCannotOpen},
      {"read-only file", kTagged,
       [](const TempDir& d) { chmod((d / "song.mp3").c_str(), 0444); },
       "song.mp3", AsNobody, true, kCannotWrite},
      {"read-only file, rewrite", untagged,
       [](const TempDir& d) { chmod((d / "song.mp3").c_str(), 0444); },
       "song.mp3", AsNobody, true, kCannotWrite},
      {"read-only directory, rewrite", untagged,
       [](const TempDir& d) {
         chmod((d / "song.mp3").c_str(), 0666);
         chmod(d.path().c_str(), 0555);
       },
       "song.mp3", AsNobody, true, kCannotWrite},
  };
  bool unprivileged = CanRunAsNobody();
  if (!unprivileged) {
    std::cout << "permission cases not run: cannot run the binary as nobody\n";
  }
  for (const Fault& fault : faults) {
    if (fault.unprivileged && !unprivileged) continue;
    TempDir dir;
    if (!fault.content.empty()) WriteFile(dir / "song.mp3", fault.content);
    if (fault.prepare) fault.prepare(dir);
    std::vector<std::string> before = dir.Names();
    RunResult result = RunTagwell({dir / fault.target, "-set", "title", "New"},
                                  fault.in_child);
    EXPECT_EQ(result.out, fault.message) << fault.name;
    EXPECT_EQ(result.status, 1) << fault.name;
    EXPECT_EQ(result.err, "") << fault.name;
    chmod(dir.path().c_str(), 0777);
    chmod((dir / "song.mp3").c_str(), 0644);
    EXPECT_EQ(dir.Names(), before) << fault.name;
    if (!fault.content.empty() || fault.message == kNotMp3) {
      EXPECT_EQ(ReadFile(dir / "song.mp3"), fault.content) << fault.name;
    }
  }
}

TEST(FileSafety, SymbolicLinkStaysALinkToTheTaggedFile) {
  TempDir dir;
  WriteFile(dir / "real.mp3", kTagged);
  ASSERT_EQ(symlink("real.mp3", (dir / "link.mp3").c_str()), 0);
  RunResult result =
      RunTagwell({dir / "link.mp3", "-set", "title", std::string(5000, 'x')});
  EXPECT_EQ(result.status, 0) << result.out;
  struct stat link;
  ASSERT_EQ(lstat((dir / "link.mp3").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  EXPECT_EQ(RawFrame(ReadFile(dir / "real.mp3"), "TIT2"),
            '\0' + std::string(5000, 'x'));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"link.mp3", "real.mp3"}));
}

TEST(FileSafety, RewriteKeepsOwnerGroupAndMode) {
  if (geteuid() != 0) GTEST_SKIP() << "changing the owner needs root";
  TempDir dir;
  std::string file = dir / "song.mp3";
  WriteFile(file, MpegFrames(10));
  ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(file.c_str(), 02640), 0);
  ASSERT_EQ(RunTagwell({file, "-set", "title", "t"}).status, 0);
  struct stat status;
  ASSERT_EQ(stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 65534u);
  EXPECT_EQ(status.st_gid, 65534u);
  EXPECT_EQ(status.st_mode & 07777, 02640u);
}

TEST(FileSafety, FramesOfOtherTaggersSurvive) {
  const std::string others =
      Frame("APIC",
            std::string("\0image/png\0\x03\0", 13) + "\x89PNG\r\n\x1a\n....") +
      Frame("TXXX", std::string("\0MusicBrainz Album Id\0abc-123", 29)) +
      Frame("PRIV", std::string("WM/MediaClassPrimaryID\0\xBC\x7D", 25));
  TempDir dir;
  std::string file = dir / "song.mp3";
  WriteFile(file, Id3v2(3, others + TextFrame("TIT2", "Old")) + MpegFrames(10));
  ASSERT_EQ(
      RunTagwell({file, "-set", "title", "New", "-set", "year", "2020"}).status,
      0);
  std::string bytes = ReadFile(file);
  EXPECT_EQ(RawFrame(bytes, "TIT2"), std::string("\0New", 4));
  EXPECT_NE(bytes.find(others), std::string::npos);
}

// Mutated tags must never kill the tool, hang it or cost audio.
TEST(FileSafety, MutatedTagsNeverCostTheAudio) {
  const std::string frames =
      TextFrame("TIT2", "Title") + TextFrame("TPE1", "Artist") +
      Frame("COMM", std::string("\0eng\0A comment", 14)) +
      TextFrame("TRCK", "3/9") + Frame("APIC", std::string(60, 'p'));
  const std::string tag = Id3v2(3, frames, 40);
  const std::string audio = MpegFrames(8);
  std::mt19937 random(20261206);
  TempDir dir;
  std::string file = dir / "song.mp3";
  int rendered = 0;
  for (int round = 0; round < 300; ++round) {
    std::string mutated = tag;
    for (int k = 1 + random() % 4; k > 0; --k) {
      size_t at = 10 + random() % (tag.size() - 10);  // the header stays intact
      mutated[at] = static_cast<char>(random());
    }
    WriteFile(file, mutated + audio);
    RunResult result =
        RunTagwell({file, "-set", "title", "T", "-set", "tracknum", "4"});
    std::string after = ReadFile(file);
    ASSERT_TRUE(result.status == 0 || result.status == 1) << "round " << round;
    EXPECT_EQ(result.err, "") << "round " << round;
    if (result.status == 0) {
      ++rendered;
      EXPECT_EQ(AudioOf(after), audio) << "round " << round;
    } else {
      EXPECT_EQ(after, mutated + audio) << "round " << round;
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.mp3"})
        << "round " << round;
  }
  EXPECT_GT(rendered, 100);
}

// Starts the binary on `args` with its output discarded; returns its pid.
pid_t StartTagwell(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    std::vector<char*> argv{
        const_cast<char*>(testing_support::TagwellBinary().c_str())};
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(FileSafety, TwoEditorsOfOneFileBothLand) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  const std::string audio = MpegFrames(30);
  for (int round = 0; round < 40; ++round) {
    // Even rounds start untagged, so that the first editor rewrites the file
    // and the second must edit the new one.
    WriteFile(file, round % 2 == 0 ? audio : Id3v2(3, "", 3000) + audio);
    std::string title = "t" + std::to_string(round);
    std::string artist = "a" + std::to_string(round);
    pid_t first = StartTagwell({file, "-set", "title", title});
    pid_t second = StartTagwell({file, "-set", "artist", artist});
    EXPECT_EQ(ExitStatus(first), 0) << "round " << round;
    EXPECT_EQ(ExitStatus(second), 0) << "round " << round;
    std::string bytes = ReadFile(file);
    EXPECT_EQ(RawFrame(bytes, "TIT2"), '\0' + title) << "round " << round;
    EXPECT_EQ(RawFrame(bytes, "TPE1"), '\0' + artist) << "round " << round;
    EXPECT_TRUE(AudioOf(bytes) == audio) << "round " << round;
  }
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.mp3"});
}

TEST(FileSafety, AnEditWaitsForTheLockOfAnother) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  const std::string original = MpegFrames(10);
  WriteFile(file, original);
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  pid_t editor = StartTagwell({file, "-set", "title", "T"});
  usleep(300000);
  EXPECT_EQ(ReadFile(file), original);
  close(fd);
  EXPECT_EQ(ExitStatus(editor), 0);
  EXPECT_EQ(RawFrame(ReadFile(file), "TIT2"), std::string("\0T", 2));
}

// What a crash in the middle of an earlier edit left is cleaned up by the next
// one: zero blocks an insert put in front of the tag, a rewrite's new file.
TEST(FileSafety, TheNextEditRepairsWhatACrashLeft) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  struct stat status;
  WriteFile(file, "");
  ASSERT_EQ(stat(file.c_str(), &status), 0);
  const std::string audio = MpegFrames(10);
  const std::string old_frame = TextFrame("TPE1", "Kept");
  WriteFile(file, std::string(status.st_blksize, '\0') +
                      Id3v2(3, old_frame, 100) + audio);
  WriteFile(dir / ".song.mp3.tagwell", audio);
  ASSERT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0);
  std::string bytes = ReadFile(file);
  EXPECT_EQ(RawFrame(bytes, "TPE1"), std::string("\0Kept", 5));
  EXPECT_EQ(RawFrame(bytes, "TIT2"), std::string("\0T", 2));
  EXPECT_TRUE(AudioOf(bytes) == audio);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.mp3"});
}

// A signal at any moment of a rewrite leaves the old file or the new one, and
// a SIGKILL nothing that the next edit does not clear away.
TEST(FileSafety, SignalsLeaveTheOldFileOrTheNewOne) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  const std::string original = MpegFrames(40000);  // about 16 MB
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGKILL};
  std::mt19937 random(7);
  int old_seen = 0, new_seen = 0;
  for (int round = 0; round < 16; ++round) {
    WriteFile(file, original);
    pid_t pid = StartTagwell({file, "-set", "title", "T"});
    usleep(random() % 100000);
    kill(pid, signals[round % 4]);
    ExitStatus(pid);
    std::string after = ReadFile(file);
    if (after == original) {
      ++old_seen;
    } else {
      ++new_seen;
      EXPECT_TRUE(AudioOf(after) == original) << "round " << round;
      EXPECT_EQ(RawFrame(after, "TIT2"), std::string("\0T", 2))
          << "round " << round;
    }
    std::vector<std::string> names = dir.Names();
    if (signals[round % 4] == SIGKILL && names.size() == 2) {
      EXPECT_EQ(names[0], ".song.mp3.tagwell") << "round " << round;
      ASSERT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0);
      names = dir.Names();
    }
    EXPECT_EQ(names, std::vector<std::string>{"song.mp3"}) << "round " << round;
  }
  std::cout << "old file " << old_seen << " times, new file " << new_seen
            << " times\n";
}

// Whether files in `directory` can have room inserted at their front.
bool CanInsertRange(const std::string& directory) {
  std::string probe = directory + "/probe";
  WriteFile(probe, std::string(8192, 'p'));
  int fd = open(probe.c_str(), O_RDWR);
  bool can = fallocate(fd, FALLOC_FL_INSERT_RANGE, 0, 4096) == 0;
  close(fd);
  unlink(probe.c_str());
  return can;
}

const std::string& LargeAudio() {
  static const std::string audio = MpegFrames(81000);  // 33.8 MB
  return audio;
}

// Sets a title in `file`; returns whether the file kept its inode.
bool TitleKeepsInode(const std::string& file) {
  struct stat before, after;
  EXPECT_EQ(stat(file.c_str(), &before), 0);
  EXPECT_EQ(RunTagwell({file, "-set", "title", "Long"}).status, 0);
  EXPECT_EQ(stat(file.c_str(), &after), 0);
  return after.st_ino == before.st_ino;
}

TEST(LargeFiles, FirstTagIsInsertedInFrontOfTheAudio) {
  TempDir dir;
  if (!CanInsertRange(dir.path())) {
    GTEST_SKIP() << dir.path() << " cannot insert ranges";
  }
  std::string file = dir / "song.mp3";
  WriteFile(file, LargeAudio());
  ASSERT_EQ(link(file.c_str(), (dir / "hard.mp3").c_str()), 0);
  EXPECT_TRUE(TitleKeepsInode(file));
  std::string bytes = ReadFile(file);
  EXPECT_EQ(ReadFile(dir / "hard.mp3"), bytes);
  EXPECT_EQ(AudioOf(bytes), LargeAudio());
  EXPECT_EQ(RawFrame(bytes, "TIT2"), std::string("\0Long", 5));
  uint64_t room = testing_support::V2TagSize(bytes);
  struct stat status;
  ASSERT_EQ(stat(file.c_str(), &status), 0);
  EXPECT_EQ(room % status.st_blksize, 0u);

  // Its last frame removed, the tag keeps its room as padding.
  ASSERT_EQ(RunTagwell({file, "-set", "title", ""}).status, 0);
  struct stat after;
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, status.st_ino);
  bytes = ReadFile(file);
  EXPECT_EQ(testing_support::V2TagSize(bytes), room);
  EXPECT_TRUE(testing_support::RawFrames(bytes).empty());

  // A failure after the insert takes the room out again. The file's time shows
  // that it was written, so this is the insert undone, not a copy never made.
  WriteFile(file, LargeAudio());
  timespec old_times[2] = {{946684800, 0}, {946684800, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old_times, 0), 0);
  RunResult result = RunTagwell({file, "-set", "title", "Long"},
                                FileSizeLimit(LargeAudio().size() + room));
  EXPECT_EQ(result.out, kCannotWrite);
  EXPECT_EQ(result.status, 1);
  ASSERT_EQ(stat(file.c_str(), &status), 0);
  EXPECT_NE(status.st_mtime, 946684800);
  EXPECT_TRUE(ReadFile(file) == LargeAudio());
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"hard.mp3", "song.mp3"}));
}

TEST(LargeFiles, WithoutInsertSupportTheFileIsCopied) {
  TempDir dir("/dev/shm");
  if (CanInsertRange(dir.path())) GTEST_SKIP() << "/dev/shm can insert ranges";
  std::string file = dir / "song.mp3";
  WriteFile(file, LargeAudio());
  EXPECT_FALSE(TitleKeepsInode(file));
  std::string bytes = ReadFile(file);
  EXPECT_TRUE(AudioOf(bytes) == LargeAudio());
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.mp3"});
}

}  // namespace
