// Black-box runs of the built binary: the exact bytes it prints, its exit
// status, and that a failure leaves the file and its directory as they were.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test/support.h"

namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

const std::string kUsage =
    "Usage: tagwell <mp3 filename> -set <fieldname> <value> \n"
    "       [-set <field name> <value> [..]]\n"
    "Fields: tracknum, artist, album, title, year,\n"
    "        comment, genre\n";
const std::string kHelp =
    kUsage +
    "\nExample: tagwell song.mp3 -set artist \"Someone\" -set tracknum 7\n"
    "An empty value removes the field: -set comment \"\"\n"
    "Track numbers are 1 to 255, alone or with a total: 7 or 7/12\n"
    "tagwell --list <mp3 filename> [..] prints the fields each file holds.\n"
    "Exit status: 0 when done, 1 on any failure; a failure leaves the file as "
    "it was.\nSee tagwell(1).\n";
const char kNotEnough[] = "Invalid argument usage. Not enough arguments.";
const char kNoSet[] = "Incorrect argument usage. -set not found.";
const char kUnknown[] = "Incorrect argument usage. Unrecognised field name.";
const char kBadTrack[] = "Incorrect argument usage. Invalid track number.";
const char kCannotOpen[] = "File error. Cannot open the file.";
const char kNotMp3[] = "File error. Not an MP3 file.";
const char kUnsupported[] = "File error. Unsupported ID3v2 tag version.";
const char kCannotRead[] = "File error. Cannot read the tag.";
const char kCannotWrite[] = "File error. Cannot write the file.";

const std::string kAudio = Mpeg(4);
const std::string kTagged = Id3v2(3, Text("TIT2", "Old"), 100) + kAudio;

// Replaces every "@" in `text` with `file`.
std::string WithFile(std::string text, const std::string& file) {
  for (size_t at; (at = text.find('@')) != std::string::npos;) {
    text.replace(at, 1, file);
  }
  return text;
}

void AsNobody() {
  passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr || setgroups(0, nullptr) != 0 ||
      setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
    _exit(126);
  }
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
  auto tagged = [](int major, const std::string& body, int flags = 0) {
    return Id3v2(major, body, 10, flags) + kAudio;
  };
  const std::string first = Id3v2(3, Text("TIT2", "1"));
  std::string past_end = kTagged;
  past_end[6] = 0x7F;
  const std::vector<std::string> set{"@", "-set", "title", "T"};
  const char set_out[] = "For MP3 File: @\r\n- Set title to T\r\n";
  // clang-format off
  const Prepare dir = [](const TempDir& d) { mkdir((d / "song.mp3.d").c_str(), 0755); };
  const Prepare fifo = [](const TempDir& d) { mkfifo((d / "song.mp3.d").c_str(), 0644); };
  const Prepare v1 = [](const TempDir& d) {
    WriteFile(d / "song.mp3.v1", kAudio + Id3v1({"Old  ", "Ann", "Alb", "1999", "v1"}, 5, 17));
  };
  const Prepare dangling = [](const TempDir& d) { symlink("x", (d / "song.mp3.d").c_str()); };
  const Case cases[] = {
      {{}, kUsage, 0},
      {{"--version"}, "tagwell " TAGWELL_VERSION "\n", 0}, {{"--help"}, kHelp, 0}, {{"-h"}, kHelp, 0},
      {{"--list", "@"}, "title: Old\n", 0},
      // As ls lists directories; ID3v1 alone, blank-padded, with a track.
      {{"--list", "@", "@.none", "@.v1"}, "@:\ntitle: Old\n\n@.v1:\ntracknum: 5\nartist: Ann\nalbum: Alb\n"
       "title: Old\nyear: 1999\ncomment: v1\ngenre: (17)\n", 1, kTagged, v1, nullptr,
       "tagwell: @.none: File error. Cannot open the file.\n"},
      // Without a track, the comment has all 30 bytes.
      {{"--list", "@"}, "comment: " + std::string(30, 'c') + "\n", 0,
       kAudio + Id3v1({"", "", "", "", std::string(30, 'c')}, 0, 255)},
      {{"--list"}, kNotEnough, 1}, {{"@"}, kNotEnough, 1}, {{"--help", "-set"}, kNotEnough, 1},
      {{"@", "title"}, kNoSet, 1}, {{"@", "-SET", "title", "x"}, kNoSet, 1},
      {{"@", "-set"}, kNotEnough, 1}, {{"@", "-set", "bogus"}, kUnknown, 1},
      {{"@", "-set", "Title", "x"}, kUnknown, 1}, {{"@", "-set", "title"}, kNotEnough, 1},
      {{"@", "-set", "title", "x", "-set"}, kNotEnough, 1},
      {{"@", "-set", "title", "x", "extra"}, kNoSet, 1},
      {{"@", "-set", "title", "x", "-set", "nope", "y"}, kUnknown, 1},
      {{"@", "-set", "tracknum", "0"}, kBadTrack, 1}, {{"@", "-set", "tracknum", "256"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "-1"}, kBadTrack, 1}, {{"@", "-set", "tracknum", "2550"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "99999999999999999999"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "0", "-set", "bogus", "x"}, kBadTrack, 1},
      {{"/none/song.mp3", "-set", "titel", "x"}, kUnknown, 1},  // before the file is looked at
      {{"@", "-set", "artist", "Someone", "-set", "tracknum", "7"},
       "For MP3 File: @\r\n- Set artist to Someone\r\n- Set tracknum to 7\r\n", 0},
      {{"@", "-set", "title", "-set"}, "For MP3 File: @\r\n- Set title to -set\r\n", 0},
      {{"@", "-set", "tracknum", " 007abc", "-set", "year", ""},
       "For MP3 File: @\r\n- Set tracknum to  007abc\r\n- Set year to \r\n", 0},
      {set, set_out, 0, kTagged, nullptr, [] { close(0); }},  // the file may get descriptor 0
      // All that follows the first tag is audio to the edit.
      {set, set_out, 0, first + Mpeg(1)},
      {set, set_out, 0, first + std::string(4000, '\0') + "junk" + kAudio},
      {set, set_out, 0, first + Id3v2(3, Text("TIT2", "2"), 65536) + kAudio},
      // A size with a high bit, a version or revision of 0xFF: no tag, but junk.
      {set, set_out, 0, "ID3\x03\0\0\0\0\x80\0"s + kAudio}, {set, set_out, 0, "ID3\xFF\0\0\0\0\0\0"s + kAudio},
      {set, set_out, 0, "ID3\x03\xFF\0\0\0\0\0"s + kAudio},
      {set, set_out, 0, tagged(4, "\0\0\0\x06\x01\0"s, 0x40)},  // the shortest extended header
      {{"@.d", "-set", "title", "T"}, kCannotOpen, 1},
      {{"@.d", "-set", "title", "T"}, kCannotOpen, 1, kTagged, dir},
      {{"@.d", "-set", "title", "T"}, kCannotOpen, 1, kTagged, fifo},
      {{"@.d", "-set", "title", "T"}, kCannotOpen, 1, kTagged, dangling},
      {set, kUnsupported, 1, tagged(5, "")}, {set, kCannotRead, 1, past_end},
      {set, kCannotRead, 1, tagged(3, "TIT2" + "\0\0\0\x30\0\0x"s)},
      {set, kCannotRead, 1, tagged(3, Text("TI\x01T", "x"))},
      {set, kCannotRead, 1, tagged(2, Text("TT2", "x"), 0x40)},
      {set, kCannotRead, 1, tagged(4, "\0\0\0\x05\x01\0"s, 0x40)},  // extended header of 5
      // A v2.4 frame size that fits neither as syncsafe nor as plain.
      {set, kCannotRead, 1, tagged(4, "TXXX" + "\0\0\x01\0\0\0"s + std::string(150, 'v'))},
      {set, kNotMp3, 1, ""}, {set, kNotMp3, 1, Id3v2(3, Text("TIT2", "t"), 10)},
      {set, kNotMp3, 1, first + "fLaC" + kAudio},
      {set, kNotMp3, 1, "RIFF\x10\0\0\0WAVE" + kAudio},
      {set, kNotMp3, 1, "\0\0\0\x20" "ftypM4A "s + kAudio},
      {set, kNotMp3, 1, Mpeg(3, "\xFF\xFB\xF0\0"s)},    // bitrate 15
      {set, kNotMp3, 1, Mpeg(3, "\xFF\xFB\x90\x02"s)},  // emphasis 2
      {set, kNotMp3, 1, Mpeg(3, "\xFF\x1B\x90\0"s)},  // no sync
      {set, kNotMp3, 1, std::string(65536, 'j') + kAudio},
      {set, kCannotWrite, 1, kAudio, nullptr, SizeLimit(kAudio.size())},
      // Appending the ID3v1 tag is the write that fails in place.
      {set, kCannotWrite, 1, kTagged, nullptr, SizeLimit(kTagged.size())},
      {set, kCannotOpen, 1, kTagged, Chmod("song.mp3", 0), AsNobody},
      {set, kCannotWrite, 1, kTagged, Chmod("song.mp3", 0444), AsNobody},
      {set, kCannotWrite, 1, kAudio, Chmod("song.mp3", 0444), AsNobody},
      {set, kCannotWrite, 1, kAudio, Chmod(".", 0555), AsNobody},
  };
  // clang-format on
  for (const Case& c : cases) {
    TempDir dir;
    std::string file = dir / "song.mp3";
    WriteFile(file, c.content);
    chmod(file.c_str(), 0666);
    if (c.prepare) c.prepare(dir);
    std::vector<std::string> before = dir.Names(), args;
    for (const std::string& arg : c.args) args.push_back(WithFile(arg, file));
    RunResult result = RunTagwell(args, c.in_child);
    std::string where = "row " + std::to_string(&c - cases);
    if (result.status == 126) continue;  // nobody cannot run the binary here
    EXPECT_EQ(result.out, WithFile(c.out, file)) << where;
    EXPECT_EQ(result.status, c.status) << where;
    EXPECT_EQ(result.err, WithFile(c.err, file)) << where;
    chmod((dir / ".").c_str(), 0777);
    chmod(file.c_str(), 0666);
    EXPECT_EQ(dir.Names(), before) << where;
    std::string after = ReadFile(file);
    EXPECT_TRUE(c.status == 0 ? AudioOf(after) == AudioOf(c.content)
                              : after == c.content)
        << where;
  }
}

}  // namespace
