// Black-box runs of the built binary: the exact bytes it prints, its exit
// status, and that a failure leaves the file and its directory as they were;
// then the file under stress: links, owners, concurrent editors, signals and
// crashes, large files.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>

#include "tagedit/fields.h"
#include "tagedit/unique_fd.h"
#include "test/support.h"

namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

const std::string kUsage =
    "Usage: tagwell <mp3 filename> -set <fieldname> <value> \n"
    "       [-set <field name> <value> [..]]\n"
    "Fields: tracknum, artist, album, title, year,\n"
    "        comment, genre\n";
const char kNotEnough[] = "Invalid argument usage. Not enough arguments.";
const char kNoSet[] = "Incorrect argument usage. -set not found.";
const char kUnknown[] = "Incorrect argument usage. Unrecognised field name.";
const char kBadTrack[] = "Incorrect argument usage. Invalid track number.";
const char kCannotOpen[] = "File error. Cannot open the file.";
const char kNotMp3[] = "File error. Not an MP3 file.";
const char kUnsupported[] = "File error. Unsupported ID3v2 tag version.";
const char kCannotRead[] = "File error. Cannot read the tag.";
const char kCannotWrite[] = "File error. Cannot write the file.";

const char kTooLarge[] =
    "tagwell: @: File error. Cannot write the file. (File too large)\n";
const char kDenied[] =
    "tagwell: @: File error. Cannot write the file. (Permission denied)\n";
const char kLost[] = "tagwell: cannot write to standard output\n";
void ToFull() {
  if (!freopen("/dev/full", "w", stdout)) _exit(126);
}

const std::string kAudio = Mpeg(4);
const std::string kTagged = Id3v2(3, Text("TIT2", "Old"), 100) + kAudio;
// A tag without room: the title set makes it grow, into a new file.
const std::string kTight = Id3v2(3, Text("TPE1", "A")) + kAudio;
// A tag 4 KiB too large, which shrinks into a new file.
const std::string kRoomy = Id3v2(3, Text("TPE1", "A"), 8000) + kAudio;

struct stat Stat(const std::string& path) {
  struct stat status {};
  lstat(path.c_str(), &status);
  return status;
}

// Replaces every "@" in `text` with `file`.
std::string WithFile(std::string text, const std::string& file) {
  for (size_t at; (at = text.find('@')) != std::string::npos;)
    text.replace(at, 1, file);
  return text;
}

void AsNobody() {  // Debian's nobody and nogroup
  if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
    _exit(126);
}

using Prepare = std::function<void(const TempDir&)>;
Prepare Chmod(const char* name, mode_t mode) {
  return [name, mode](const TempDir& d) { chmod((d / name).c_str(), mode); };
}

struct Case {
  std::vector<std::string> args;  // "@" stands for song.mp3 in a fresh folder
  std::string out;                // "@" too
  int status;
  std::string content = kTagged;  // of song.mp3
  Prepare prepare = nullptr;
  std::function<void()> in_child = nullptr;
  std::string err = "";  // "@" too
};

// Each run prints exactly its text and exits with its status; a failure
// leaves the file and its folder as they were, a success every audio byte.
TEST(TagwellBinary, PrintsExactlyWhatEachCommandCalls) {
  // clang-format off
  auto tagged = [](int major, const std::string& body, int flags = 0) { return Id3v2(major, body, 10, flags) + kAudio; };
  const std::string first = Id3v2(3, Text("TIT2", "1"));
  const std::vector<std::string> set{"@", "-set", "title", "T"}, at_d{"@.d", "-set", "title", "T"};
  const char set_out[] = "For MP3 File: @\r\n- Set title to T\r\n";
  const Prepare dir = [](const TempDir& d) { mkdir((d / "song.mp3.d").c_str(), 0755); };
  const Prepare fifo = [](const TempDir& d) { mkfifo((d / "song.mp3.d").c_str(), 0644); };
  const std::string t30(30, 'T'), a30(30, 'A'), v1_only = Id3v1({t30, a30, "Alb  ", "1999", "v1"}, 5, 17);
  const Prepare v1 = [&](const TempDir& d) { WriteFile(d / "song.mp3.v1", v1_only); };
  // Nobody's link, in a sticky folder anyone may write (as /tmp), to a file
  // only root may read: root's edit follows it only where the kernel lets
  // root's own cat (fs.protected_symlinks, on in Debian).
  const Prepare planted = [](const TempDir& d) {
    mkdir((d / "song.mp3.d").c_str(), 0), chmod((d / "song.mp3.d").c_str(), 01777), chmod((d / "song.mp3").c_str(), 0600);
    EXPECT_TRUE(symlink((d / "song.mp3").c_str(), (d / "song.mp3.d/song.mp3").c_str()) == 0 &&
                (geteuid() != 0 || lchown((d / "song.mp3.d/song.mp3").c_str(), 65534, 65534) == 0)); };
  const bool protects = ReadFile("/proc/sys/fs/protected_symlinks") == "1\n";
  const Case cases[] = {
      {{}, kUsage, 0}, {{"--version"}, "tagwell " TAGWELL_VERSION "\n", 0}, {{"--list", "@"}, "title: Old\n", 0},
      // As ls lists directories; ID3v1 alone, with fields filling their slots,
      // one blank-padded, and a track.
      {{"--list", "@", "@.none", "@.v1"},
       "@:\ntitle: Old\n\n@.v1:\ntracknum: 5\nartist: " + a30 + "\nalbum: Alb\ntitle: " + t30 +
       "\nyear: 1999\ncomment: v1\ngenre: (17)\n", 1, kTagged, v1, nullptr,
       "tagwell: @.none: File error. Cannot open the file. (No such file or directory)\n"},
      // Without a track, the comment has all 30 bytes.
      {{"--list", "@"}, "comment: " + std::string(30, 'c') + "\n", 0,
       kAudio + Id3v1({"", "", "", "", std::string(30, 'c')}, 0, 255)},
      // Many files: each summary in turn, a failure on standard error, the
      // same file twice, "--" before the files; no file, a wrong group: none
      // touched.
      {{"--each", "-set", "title", "T", "@", "@", "@.none"}, std::string(set_out) + set_out, 1, kTagged,
       nullptr, nullptr, "tagwell: @.none: File error. Cannot open the file. (No such file or directory)\n"},
      {{"--each", "-set", "title", "T", "--", "@"}, set_out, 0}, {{"--each", "-set", "title", "T", "--"}, kNotEnough, 1},
      {{"--each", "-set", "title", "T", "-set", "titel", "x", "@"}, kUnknown, 1}, {{"--each", "@"}, kNoSet, 1},
      {{"--list"}, kNotEnough, 1}, {{"@"}, kNotEnough, 1}, {{"--help", "-set"}, kNotEnough, 1},
      {{"@", "title"}, kNoSet, 1}, {{"@", "-SET", "title", "x"}, kNoSet, 1},
      {{"@", "-set"}, kNotEnough, 1}, {{"@", "-set", "bogus"}, kUnknown, 1},
      {{"@", "-set", "Title", "x"}, kUnknown, 1}, {{"@", "-set", "title"}, kNotEnough, 1},
      {{"@", "-set", "title", "x", "-set"}, kNotEnough, 1}, {{"@", "-set", "title", "x", "extra"}, kNoSet, 1},
      {{"@", "-set", "title", "x", "-set", "nope", "y"}, kUnknown, 1},
      {{"@", "-set", "tracknum", "0"}, kBadTrack, 1}, {{"@", "-set", "tracknum", "256"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "-1"}, kBadTrack, 1}, {{"@", "-set", "tracknum", "2550"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "99999999999999999999"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "0", "-set", "bogus", "x"}, kBadTrack, 1},
      {{"/none/song.mp3", "-set", "titel", "x"}, kUnknown, 1},  // before the file is looked at
      {{"@", "-set", "artist", "Someone", "-set", "tracknum", "7"},
       "For MP3 File: @\r\n- Set artist to Someone\r\n- Set tracknum to 7\r\n", 0},
      {{"@", "-set", "title", "-set"}, "For MP3 File: @\r\n- Set title to -set\r\n", 0},
      {{"@", "-set", "title", ""}, "For MP3 File: @\r\n- Set title to \r\n", 0},  // id3lib renders nothing
      {{"@", "-set", "tracknum", " 007abc", "-set", "year", ""},
       "For MP3 File: @\r\n- Set tracknum to  007abc\r\n- Set year to \r\n", 0},
      {set, set_out, 0, kTagged, nullptr, [] { close(0); }},  // the file may get descriptor 0
      {set, set_out, 0, Mpeg(157) + std::string(68, 'x')},  // 64 KiB and a byte to copy
      {set, set_out, 0, "\x01" + std::string(8191, '\0') + kAudio},  // no zero block, but a byte and zeros
      {set, set_out, 0, std::string(8192, '\0') + "junk" + kAudio},  // zero blocks, but no tag or audio behind
      // All that follows the first tag is audio to the edit.
      // One frame, alone or cut off behind its successor's header.
      {set, set_out, 0, first + Mpeg(1)}, {set, set_out, 0, first + Mpeg(1) + "\xFF\xFB\x90\0"s},
      {set, set_out, 0, first + std::string(4000, '\0') + "junk" + kAudio},
      {set, set_out, 0, first + Id3v2(3, Text("TIT2", "2"), 65536) + kAudio},
      // Padding of 0xFF; more than 64 KiB of zeros before the audio; a v2.3
      // list that a zero ends, stray bytes behind it (kept as they are).
      {set, set_out, 0, tagged(3, Text("TIT2", "x") + std::string(20, '\xFF'))},
      {set, set_out, 0, first + std::string(200000, '\0') + kAudio}, {set, set_out, 0, tagged(3, Text("TIT2", "x") + "\0junk"s)},
      // Tag-wide unsynchronisation in v2.4, undone for a frame not flagged.
      {{"--list", "@"}, "comment: a\xC3\xBF\xC3\xA0" "b\n", 0, tagged(4, Frame("COMM", "\0XXX\0a\xFF\0\xE0" "b"s, 0, 4), 0x80)},
      // A compressed comment past the tag's budget is not read.
      {{"--list", "@"}, "title: x\n", 0, tagged(3, Text("TIT2", "x") + Frame("COMM", Compressed("\0XXX\0"s + std::string(2 << 20, 'c')), 0x0080))},
      // A compressed comment with a data length indicator.
      {{"--list", "@"}, "title: \xEF\xBF\xBD\xEF\xBF\xBD\n", 0, tagged(3, Frame("TIT2", "\x01\xFF\xFE\0\xDC\0\xDC"s))},  // lone low surrogates
      {{"--list", "@"}, "comment: v4\n", 0, tagged(4, Frame("COMM", "\0\0\0\x07\x78\x9C\x63\x88\x88\x88\x60\x28\x33\x01\0\x06\x4F\x01\xB3"s, 0x0009, 4))},
      // A size with a high bit, a version or revision of 0xFF: no tag, but
      // junk. Then the shortest extended header.
      {set, set_out, 0, "ID3\x03\0\0\0\0\x80\0"s + kAudio}, {set, set_out, 0, "ID3\xFF\0\0\0\0\0\0"s + kAudio},
      {set, set_out, 0, "ID3\x03\xFF\0\0\0\0\0"s + kAudio}, {set, set_out, 0, tagged(4, "\0\0\0\x06\x01\0"s, 0x40)},
      {at_d, kCannotOpen, 1, kTagged, nullptr, nullptr, "tagwell: @.d: File error. Cannot open the file. (No such file or directory)\n"}, {at_d, kCannotOpen, 1, kTagged, dir, nullptr, "tagwell: @.d: File error. Cannot open the file. (Is a directory)\n"}, {at_d, kCannotOpen, 1, kTagged, fifo},
      {{"@.d/song.mp3", "-set", "title", "T"}, protects ? kCannotOpen : "For MP3 File: @.d/song.mp3\r\n- Set title to T\r\n", protects, kTagged, planted, [] { if (geteuid() != 0) _exit(126); },
       protects ? "tagwell: @.d/song.mp3: File error. Cannot open the file. (Permission denied)\n" : ""},
      // A tag past the end, a frame past the tag.
      {set, kUnsupported, 1, tagged(5, "")}, {set, kCannotRead, 1, kTagged.substr(0, 6) + '\x7F' + kTagged.substr(7)},
      {set, kCannotRead, 1, tagged(3, "TIT2" + "\0\0\0\x30\0\0x"s)}, {set, set_out, 0, [] { std::string a = kAudio; a[188] = a[376] = a[564] = 0x47; return a; }()},
      {set, kCannotRead, 1, tagged(3, Text("TI\x01T", "x"))}, {set, kCannotRead, 1, tagged(2, Text("TT2", "x"), 0x40)},
      {set, kCannotRead, 1, tagged(4, "\0\0\0\x05\x01\0"s, 0x40)},  // extended header of 5
      // A v2.4 frame size that fits neither as syncsafe nor as plain.
      {set, kCannotRead, 1, tagged(4, "TXXX" + "\0\0\x01\0\0\0"s + std::string(150, 'v'))},
      {set, kNotMp3, 1, ""}, {set, kNotMp3, 1, Id3v2(3, Text("TIT2", "t"), 10)},
      {set, kNotMp3, 1, first + "fLaC" + kAudio},  // each other format: MpegAudio
      // Bitrate index 15, emphasis 2, no sync bits, audio only after 64 KiB,
      // the reserved sample rate.
      {set, kNotMp3, 1, Mpeg(3, "\xFF\xFB\x90\x02"s)}, {set, set_out, 0, Id3v2(3, "\0\0\0\x06\0\0\0\0\0\0"s, 0, 0x40) + kAudio},  // no frame, only an extended header
      {set, kNotMp3, 1, Mpeg(3, "\xFF\x1B\x90\0"s)}, {set, kNotMp3, 1, std::string(65536, 'j') + kAudio},
      {set, kNotMp3, 1, Mpeg(3, "\xFF\xFB\x9C\0"s)}, {set, kNotMp3, 1, Mpeg(3, "\xFF\xFB\xF0\0"s)},
      // A full disk; in place, appending the ID3v1 tag is the write that fails.
      {set, kCannotWrite, 1, kAudio, nullptr, Limit(RLIMIT_FSIZE, kAudio.size()), kTooLarge},
      {set, kCannotWrite, 1, kTagged, nullptr, Limit(RLIMIT_FSIZE, kTagged.size()), kTooLarge},
      // As nobody: a file it may not read, nor write, in a folder it may not write.
      {set, kCannotOpen, 1, kTagged, Chmod("song.mp3", 0), AsNobody, "tagwell: @: File error. Cannot open the file. (Permission denied)\n"}, {set, kCannotWrite, 1, kRoomy, Chmod(".", 0555), AsNobody, kDenied},
      // As nobody: in place; a tag grown into inserted room, which keeps the
      // root-owned inode; a new file in a folder it may write but not read.
      {set, set_out, 0, kTagged, nullptr, AsNobody}, {set, set_out, 0, kTight, nullptr, AsNobody},
      {set, set_out, 0, kRoomy, [](const TempDir& d) { chmod((d / ".").c_str(), 0333); EXPECT_TRUE(geteuid() != 0 || chown((d / "song.mp3").c_str(), 65534, 65534) == 0); }, AsNobody},
      {set, kCannotWrite, 1, kTagged, Chmod("song.mp3", 0444), AsNobody, kDenied}, {set, kCannotWrite, 1, kAudio, Chmod("song.mp3", 0444), AsNobody, kDenied},
      // A new file that could not be given the old one's owner; an ignored
      // SIGCHLD inherited; no /proc (as root); output lost.
      {set, kCannotWrite, 1, kRoomy, nullptr, AsNobody, "tagwell: @: File error. Cannot write the file. (Operation not permitted)\n"}, {set, set_out, 0, kTagged, nullptr, [] { signal(SIGCHLD, SIG_IGN); }},
      {set, set_out, 0, kTight, nullptr, [] {
         if (unshare(CLONE_NEWNS) || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
             umount2("/proc", MNT_DETACH))
           _exit(126);
       }},
      {{"--version"}, "", 1, kTagged, nullptr, ToFull, kLost}, {set, "", 0, kTagged, nullptr, ToFull, kLost},
  };
  // clang-format on
  for (const Case& c : cases) {
    TempDir dir;
    std::string file = dir / "song.mp3";
    WriteFile(file, c.content);
    chmod(file.c_str(), 0666);
    if (c.prepare) c.prepare(dir);
    size_t before = dir.Entries();
    std::vector<std::string> args;
    for (const std::string& arg : c.args) args.push_back(WithFile(arg, file));
    RunResult result = RunTagwell(args, c.in_child);
    SCOPED_TRACE("row " + std::to_string(&c - cases));
    chmod((dir / ".").c_str(), 0777);
    chmod(file.c_str(), 0666);
    if (result.status == 126) {  // a child that could not take its role
      std::cout << "row " << &c - cases << " skipped: it needs root"
                << std::endl;
      continue;
    }
    EXPECT_EQ(result.out, WithFile(c.out, file));
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, WithFile(c.err, file));
    EXPECT_EQ(dir.Entries(), before);
    std::string after = ReadFile(file);
    bool edited =
        c.status == 0 || result.out.find("For MP3") != std::string::npos;
    EXPECT_TRUE(edited ? AudioOf(after) == AudioOf(c.content)
                       : after == c.content);
  }
}

// --list --json and --apply: names and values of any bytes, per-file values,
// a file named twice, "" removing, "error" ignored; a manifest with any fault
// is refused whole, and no file touched.
TEST(TagwellBinary, ListsAsJsonAndAppliesManifests) {
  struct Row {
    std::vector<std::string> args;  // "@" is the folder; stdin is @/m.json
    std::string manifest, out, err;
    int status;
    std::string after = "";  // --list --json of both files; "" if untouched
  };
  // clang-format off
  const std::string odd = "@/odd\n\x80.mp3", odd_json = "@/odd\\n\xEE\xBE\x80.mp3";  // the byte as U+EF80
  // Stored as UTF-8: a byte that is not, then U+EF80 itself, byte by byte.
  const std::string odd_tag = Id3v2(4, Frame("TIT2", "\x03" "a\xFF\xEE\xBE\x80"s, 0, 4), 100) + kAudio;
  const std::vector<std::string> apply{"--apply", "@/m.json"};
  auto refused = [&](const std::string& entry, const std::string& message) {
    return Row{apply, "[{\"file\":\"@/song.mp3\",\"title\":\"T\"},\n" + entry, "",
               "tagwell: @/m.json: Manifest error. " + message + "\n", 1};
  };
  const Row rows[] = {
      {{"--list", "--json", "@/song.mp3", odd, "@/none.mp3"}, "",
       "[\n{\"file\":\"@/song.mp3\",\"title\":\"Old\"},\n{\"file\":\"" + odd_json + "\",\"title\":\"a\xEE\xBF\xBF\xEE\xBF\xAE\xEE\xBE\xBE\xEE\xBE\x80\"},\n"
       "{\"file\":\"@/none.mp3\",\"error\":\"File error. Cannot open the file.\"}\n]\n",
       "tagwell: @/none.mp3: File error. Cannot open the file. (No such file or directory)\n", 1},
      {{"--apply", "-"}, "[{\"file\":\"@/song.mp3\",\"title\":\"One\",\"tracknum\":\"1\",\"error\":\"x\"},\n"
       "{\"file\":\"" + odd_json + "\",\"title\":\"T\\uefff\",\"tracknum\":\"2/9\",\"comment\":\"\"},{\"file\":\"@/none.mp3\"},"
       "{\"file\":\"@/song.mp3\",\"title\":\"\"}]",
       "For MP3 File: @/song.mp3\r\n- Set tracknum to 1\r\n- Set title to One\r\nFor MP3 File: " + odd +
       "\r\n- Set tracknum to 2/9\r\n- Set title to T\xFF\r\n- Set comment to \r\nFor MP3 File: @/song.mp3\r\n- Set title to \r\n",
       "tagwell: @/none.mp3: File error. Cannot open the file. (No such file or directory)\n", 1,
       "[\n{\"file\":\"@/song.mp3\",\"tracknum\":\"1\"},\n{\"file\":\"" + odd_json + "\",\"tracknum\":\"2/9\",\"title\":\"T\xC3\xBF\"}\n]\n"},
      refused("{\"file\":\"a\",}]", "Not JSON at line 2, column 13: syntax error while parsing object key - unexpected '}'; expected string literal"),
      {apply, "{\"file\":\"@/song.mp3\"}", "", "tagwell: @/m.json: Manifest error. The top level is not an array.\n", 1},
      refused("{\"file\":\"x\"}] x", "Not JSON at line 2, column 15: syntax error while parsing value - invalid literal; last read: '\"x\"}] x'; expected end of input"),
      refused("1]", "Entry 2 is not an object."), refused("{\"title\":\"x\"}]", "Entry 2 has no \"file\"."),
      refused("{\"file\":\"@/song.mp3\",\"year\":2024}]", "Entry 2: \"year\" is not a string."),
      refused("{\"file\":\"@/song.mp3\",\"Title\":\"x\"}]", "Entry 2: unknown key \"Title\"."),
      refused("{\"file\":\"@/song.mp3\",\"tracknum\":\"256\"}]", "Entry 2: Incorrect argument usage. Invalid track number."),
      refused("{\"file\":\"@/song.mp3\\u0000.x\"}]", "Entry 2: \"file\" holds a zero byte."),
      {{"--apply", "@/none.json"}, "", "", "tagwell: @/none.json: File error. Cannot open the file. (No such file or directory)\n", 1},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE("row " + std::to_string(&row - rows));
    TempDir dir;
    std::string folder = dir / "";
    folder.pop_back();
    auto at = [&](const std::string& text) { return WithFile(text, folder); };
    WriteFile(dir / "song.mp3", kTagged);
    WriteFile(at(odd), odd_tag);
    WriteFile(dir / "m.json", at(row.manifest));
    std::vector<std::string> args;
    for (const std::string& arg : row.args) args.push_back(at(arg));
    RunResult result = RunTagwell(args, [&] {
      if (!freopen((dir / "m.json").c_str(), "r", stdin)) _exit(126);
    });
    EXPECT_EQ(result.out, at(row.out));
    EXPECT_EQ(result.err, at(row.err));
    EXPECT_EQ(result.status, row.status);
    if (row.after.empty()) {
      EXPECT_TRUE(ReadFile(dir / "song.mp3") == kTagged &&
                  ReadFile(at(odd)) == odd_tag);
    } else {
      EXPECT_EQ(RunTagwell({"--list", "--json", dir / "song.mp3", at(odd)}).out,
                at(row.after));
    }
  }
  // A listing applied as it is writes nothing: not a byte, nor the inode or
  // its times; a name of any bytes included.
  TempDir dir;
  const std::string name = dir / "odd\n\xE9.mp3";
  WriteFile(name, kAudio);
  RunTagwell({name, "-set", "title", "T\xC3\xA9", "-set", "tracknum", "3"});
  const std::string bytes = ReadFile(name);
  const struct stat before = Stat(name);
  WriteFile(dir / "m.json", RunTagwell({"--list", "--json", name}).out);
  EXPECT_EQ(RunTagwell({"--apply", dir / "m.json"}).status, 0);
  const struct stat after = Stat(name);
  EXPECT_TRUE(ReadFile(name) == bytes && after.st_ino == before.st_ino &&
              after.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
              after.st_ctim.tv_nsec == before.st_ctim.tv_nsec);
}

// Help is the usage text, then an example and the essentials.
TEST(TagwellBinary, HelpStartsWithTheUsage) {
  for (const char* word : {"--help", "-h"})
    EXPECT_EQ(RunTagwell({word}).out.substr(0, kUsage.size() + 10),
              kUsage + "\nExample: ");
}

// Zeros before the audio are counted, never held: a 1 GiB hole is read
// neither by a listing nor by an edit. Memory running out on a huge tag is
// reported as one of the messages.
TEST(TagwellBinary, HolesAndHugeTagsStayWithinMemory) {
  TempDir dir;
  const std::string file = dir / "song.mp3";
  const auto memory = Limit(RLIMIT_AS, 64 << 20);
  auto sparse = [&](const std::string& head, off_t size) {
    WriteFile(file, head);
    ASSERT_EQ(truncate(file.c_str(), size), 0);
    std::ofstream(file, std::ios::app) << kAudio;
  };
  sparse("", 1 << 30);
  EXPECT_EQ(RunTagwell({"--list", file}, memory).status, 0);
  EXPECT_EQ(RunTagwell({file, "-set", "title", "T"}, memory).out, kNotMp3);
  sparse(Id3v2(3, "").replace(6, 4, "\x7F\x7F\x7F\x7F"), 1 << 28);
  EXPECT_EQ(RunTagwell({file, "-set", "title", "T"}, memory).out, kCannotRead);
}

// The completions and the manual know every field of the table.
TEST(TagwellBinary, CompletionsAndManualNameEveryField) {
  std::string names;
  for (const tagedit::Field* field : tagedit::AllFields())
    names += (names.empty() ? "" : " ") + std::string(field->name);
  for (const char* file : {"tagwell.bash", "tagwell.zsh", "tagwell.1.in"}) {
    std::string text = ReadFile(TAGWELL_SOURCE_DIR "/dist/"s + file);
    for (const tagedit::Field* field : tagedit::AllFields())
      EXPECT_NE(text.find(file[8] != '1' ? names : ".B "s + field->name),
                std::string::npos)
          << file << " " << field->name;
  }
}

// What the file system keeps about a file beside its bytes: its mode, owner,
// extended attributes (its ACL among them) and inode flags.
std::string Guards(const std::string& path) {
  std::string names(4096, '\0'), value = names, guards;
  names.resize(std::max<ssize_t>(listxattr(path.c_str(), &names[0], 4096), 0));
  for (size_t at = 0; at < names.size(); at += strlen(&names[at]) + 1)
    guards +=
        &names[at] +
        value.substr(0, getxattr(path.c_str(), &names[at], &value[0], 4096)) +
        ";";
  int flags = 0;
  tagedit::UniqueFd fd(open(path.c_str(), O_RDONLY));
  ioctl(fd.get(), FS_IOC_GETFLAGS, &flags);
  return guards + std::to_string(flags) + ";" +
         std::to_string(Stat(path).st_mode) + ";" +
         std::to_string(Stat(path).st_uid);
}

// A grown tag on a small file is written to a new inode, which gets every
// guard of the old one: the ACL with its mask, other attributes, the flags,
// the set-user-ID bit and, as root, file capabilities; an edit in place gives
// back what its write takes.
TEST(FileSafety, EveryGuardStaysOnEveryPath) {
  // The ACL is the file's, or the folder's default (which a new file gets and
  // must not keep).
  for (int kind = 0; kind < 3; ++kind) {
    TempDir dir;
    const std::string file = dir / "song.mp3";
    WriteFile(file, kind == 1 ? kTagged : kTight);
    // user::rw- user:nobody:rw- group::r-- mask::rw- other::r--, as setfacl
    // stores it; a capability of binding low ports, as setcap stores it.
    // clang-format off
    tagedit::UniqueFd fd(open(file.c_str(), O_RDONLY)); int nodump = FS_NODUMP_FL;
    const std::string acl = "\x02\0\0\0" "\x01\0\x06\0\xFF\xFF\xFF\xFF" "\x02\0\x06\0\xFE\xFF\0\0" "\x04\0\x04\0\xFF\xFF\xFF\xFF"
                            "\x10\0\x06\0\xFF\xFF\xFF\xFF" "\x20\0\x04\0\xFF\xFF\xFF\xFF"s;
    const std::string capability = "\x01\0\0\x02\0\x04\0\0"s + std::string(12, '\0');
    ASSERT_EQ(setxattr((kind == 2 ? dir / "." : file).c_str(), kind == 2 ? "system.posix_acl_default" : "system.posix_acl_access",
                       acl.data(), acl.size(), 0) | setxattr(file.c_str(), "user.origin", "vinyl", 5, 0) |
              ioctl(fd.get(), FS_IOC_SETFLAGS, &nodump), 0);
    ASSERT_TRUE(geteuid() != 0 || setxattr(file.c_str(), "security.capability", capability.data(), 20, 0) == 0);
    // clang-format on
    chmod(file.c_str(), 04764);
    const std::string before = Guards(file);
    const ino_t inode = Stat(file).st_ino;
    EXPECT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0);
    EXPECT_EQ(Stat(file).st_ino != inode, kind != 1);
    EXPECT_EQ(Guards(file), before);
  }
}

// Two editors of one file, through a symbolic link. With a tag too small, the
// first puts a new file in place of the one the second waits for; padded,
// both edit in place. Both edits land, and the link stays a link.
TEST(FileSafety, TwoEditorsOfOneFileBothLand) {
  TempDir dir;
  const std::string file = dir / "real.mp3", link = dir / "song.mp3";
  WriteFile(file, kAudio);
  ASSERT_EQ(symlink("real.mp3", link.c_str()), 0);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    WriteFile(link, round % 2 == 0 ? kTight : Id3v2(3, "", 3000) + kAudio);
    pid_t first = StartTagwell({link, "-set", "title", "T"});
    pid_t second = StartTagwell({link, "-set", "artist", "a"});
    EXPECT_EQ(ExitStatus(first) + ExitStatus(second), 0);
    EXPECT_TRUE(AudioOf(ReadFile(file)) == kAudio &&
                RunTagwell({"--list", file}).out == "artist: a\ntitle: T\n");
    EXPECT_TRUE(S_ISLNK(Stat(link).st_mode));
  }
}

// An edit waiting for a lock another program holds says so after a second
// on standard error if it is a terminal, and only then.
TEST(FileSafety, SaysOnATerminalWhichLockItWaitsFor) {
  TempDir dir;
  const std::string file = dir / "song.mp3", other = dir / "err";
  WriteFile(file, kTagged);
  tagedit::UniqueFd terminal(posix_openpt(O_RDWR | O_NOCTTY)), held;
  ASSERT_TRUE(grantpt(terminal.get()) == 0 && unlockpt(terminal.get()) == 0);
  const std::string tty = ptsname(terminal.get());
  tagedit::UniqueFd kept_open(open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  for (const std::string& err : {tty, other}) {
    held.Reset(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    flock(held.get(), LOCK_EX);
    pid_t pid = StartTagwell({file, "-set", "title", "T"}, "/dev/null", err);
    // Until the terminal hears of it; a second and a half where it should
    // not.
    pollfd said{terminal.get(), POLLIN, 0};
    std::string text(poll(&said, 1, err == other ? 1500 : 20000) * 200, '\0');
    text.resize(text.empty() ? 0 : read(terminal.get(), text.data(), 200));
    EXPECT_EQ(text, err == other
                        ? ""
                        : "\r\033[Ktagwell: " + file +
                              ": waiting for another program's lock on it\r\n");
    held.Reset();
    EXPECT_EQ(ExitStatus(pid), 0);
  }
  EXPECT_EQ(ReadFile(other), "");
}

// A crash in an earlier edit left zero blocks an insert put in front of the
// tag, and a new file named after its inode; the next edit making a new file
// clears both away, and keeps the user's own files of such names. So do
// signals at any moment of a rewrite, which leave the old file or the new one.
TEST(FileSafety, CrashesAndSignalsLeaveTheOldFileOrTheNewOne) {
  TempDir dir;
  std::string file = dir / "song.mp3";
  WriteFile(file, std::string(Stat(dir / ".").st_blksize, '\0') +
                      Id3v2(3, Text("TPE1", "K"), 99) + kAudio);
  for (const char* name :
       {"left", ".tagwell-mine", ".song.mp3.tagwell", ".tagwell-0-0", "mine"})
    WriteFile(dir / name, kAudio);
  // A leftover, and a file of the user's holding its inode but not as ours.
  for (const char* name : {"left", "mine"}) {
    char named[64];
    snprintf(named, sizeof named, ".tagwell-%s-%llx", name[0] == 'l' ? "1" : "",
             static_cast<unsigned long long>(Stat(dir / name).st_ino));
    ASSERT_EQ(rename((dir / name).c_str(), (dir / named).c_str()), 0);
  }
  EXPECT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0);
  EXPECT_EQ(Frames(ReadFile(file)), Text("TIT2", "T") + Text("TPE1", "K"));
  EXPECT_TRUE(AudioOf(ReadFile(file)) == kAudio);
  const std::string original = Id3v2(3, Text("TPE1", "K")) + Mpeg(40000);
  for (int round = 0; round < 16; ++round) {
    SCOPED_TRACE(round);
    WriteFile(file, original);
    pid_t pid = StartTagwell({file, "-set", "title", "T"});
    usleep(round * 6000);  // from the start to the rename and past it
    kill(pid, std::array{SIGINT, SIGTERM, SIGHUP, SIGKILL}[round % 4]);
    ExitStatus(pid);
    std::string after = ReadFile(file);
    EXPECT_TRUE(after == original ||
                (Frames(after) == Text("TIT2", "T") + Text("TPE1", "K") &&
                 AudioOf(after) == AudioOf(original)));
    // What a kill left goes with the next edit that makes a new file.
    if (dir.Entries() > 5)
      RunTagwell({file, "-set", "title", std::string(5000, 76)});
    EXPECT_EQ(dir.Entries(), 5u);
  }
}

// SIGINT, SIGTERM or SIGHUP at any point of a batch end it with every file
// old or new, a summary for each new one, nothing left beside them, and the
// status of the signal.
TEST(FileSafety, ASignalEndsABatchWithEachFileOldOrNewAndReported) {
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    TempDir dir, out;
    std::vector<std::string> args{"--each", "-set", "title", "T"};
    for (int i = 100; i < 200; ++i)
      WriteFile(args.emplace_back(dir / std::to_string(i)), kAudio);
    pid_t pid = StartTagwell(args, out / "out");
    usleep(round * 4000);
    int signal = std::array{SIGINT, SIGTERM, SIGHUP}[round % 3];
    kill(pid, signal);
    int status = ExitStatus(pid);
    EXPECT_TRUE(status == 0 || status == 128 + signal) << status;
    size_t edited = 0;
    for (size_t i = 4; i < args.size(); ++i) {
      std::string after = ReadFile(args[i]);
      edited += after != kAudio;
      EXPECT_TRUE(after == kAudio || (Frames(after) == Text("TIT2", "T") &&
                                      AudioOf(after) == kAudio));
    }
    EXPECT_EQ(
        ReadFile(out / "out").size(),
        edited *
            ("For MP3 File: " + args[4] + "\r\n- Set title to T\r\n").size());
    EXPECT_EQ(dir.Entries(), 100u);
  }
}

// Where the file system can, whole blocks are inserted in front of the audio
// of a large file, else the file is copied.
TEST(LargeFiles, GrownTagsGetRoomInsertedOrACopy) {
  const std::string audio = Id3v2(3, Text("TPE1", "A")) + Mpeg(81000);
  for (const std::string parent : {"/tmp", "/dev/shm"}) {
    TempDir dir(parent);
    std::string file = dir / "song.mp3";
    WriteFile(file, audio);
    tagedit::UniqueFd fd(open(file.c_str(), O_RDWR));
    bool inserts = fallocate(fd.get(), FALLOC_FL_INSERT_RANGE, 0, 4096) == 0;
    WriteFile(file, audio + Id3v1({"Old"}, 0, 255));  // rewritten in place
    ino_t inode = Stat(file).st_ino;
    EXPECT_EQ(RunTagwell({file, "-set", "title", "T"}).status, 0) << parent;
    std::string after = ReadFile(file);
    EXPECT_TRUE(AudioOf(after) == AudioOf(audio)) << parent;
    EXPECT_EQ(after.substr(after.size() - 128), Id3v1({"T"}, 0, 255)) << parent;
    EXPECT_EQ(Stat(file).st_ino == inode, inserts) << parent;
  }
}

}  // namespace
