// Black-box runs of the built binary: exact output bytes and exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include "test/support.h"

namespace {

using testing_support::ReadFile;
using testing_support::RunResult;
using testing_support::RunTagwell;
using testing_support::TempDir;

const char kUsage[] =
    "Usage: tagwell <mp3 filename> -set <fieldname> <value> \n"
    "       [-set <field name> <value> [..]]\n"
    "Fields: tracknum, artist, album, title, year,\n"
    "        comment, genre\n";
const std::string kHelp = std::string(kUsage) +
                          "\n"
                          "Example: tagwell song.mp3 -set artist \"Someone\" "
                          "-set tracknum 7\n"
                          "An empty value removes the field: -set comment "
                          "\"\"\n"
                          "Track numbers are 1 to 255, alone or with a total: "
                          "7 or 7/12\n"
                          "tagwell --list <mp3 filename> [..] prints the "
                          "fields each file holds.\n"
                          "Exit status: 0 when done, 1 on any failure; a "
                          "failure leaves the file as it was.\n"
                          "See tagwell(1).\n";
const char kNotEnough[] = "Invalid argument usage. Not enough arguments.";
const char kNoSet[] = "Incorrect argument usage. -set not found.";
const char kUnknown[] = "Incorrect argument usage. Unrecognised field name.";
const char kBadTrack[] = "Incorrect argument usage. Invalid track number.";

// Replaces every "@" in `text` with `file`.
std::string WithFile(std::string text, const std::string& file) {
  for (size_t at; (at = text.find('@')) != std::string::npos;) {
    text.replace(at, 1, file);
  }
  return text;
}

struct Case {
  std::vector<std::string> args;  // "@" stands for the test file
  std::string out;                // "@" stands for the test file
  int status;
};

TEST(TagwellBinary, PrintsExactlyWhatEachCommandCalls) {
  const Case cases[] = {
      {{}, kUsage, 0},
      {{"--help"}, kHelp, 0},
      {{"-h"}, kHelp, 0},
      {{"--version"}, "tagwell " TAGWELL_VERSION "\n", 0},
      {{"--list"}, kNotEnough, 1},
      {{"@"}, kNotEnough, 1},
      {{"--help", "-set"}, kNotEnough, 1},
      {{"@", "title"}, kNoSet, 1},
      {{"@", "-SET", "title", "x"}, kNoSet, 1},
      {{"@", "-set"}, kNotEnough, 1},
      {{"@", "-set", "bogus"}, kUnknown, 1},
      {{"@", "-set", "Title", "x"}, kUnknown, 1},
      {{"@", "-set", "Year", "1999"}, kUnknown, 1},
      {{"@", "-set", " title", "x"}, kUnknown, 1},
      {{"@", "-set", "title"}, kNotEnough, 1},
      {{"@", "-set", "title", "x", "-set"}, kNotEnough, 1},
      {{"@", "-set", "title", "x", "extra"}, kNoSet, 1},
      {{"@", "-set", "title", "x", "-set", "nope", "y"}, kUnknown, 1},
      {{"@", "-set", "tracknum", "0"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "256"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "300"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "-1"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "abc"}, kBadTrack, 1},
      {{"@", "-set", "tracknum", "99999999999999999999"}, kBadTrack, 1},
      // The first fault is reported, and a later one is not looked at.
      {{"@", "-set", "tracknum", "0", "-set", "bogus", "x"}, kBadTrack, 1},
      {{"@", "-set", "artist", "Someone", "-set", "tracknum", "7"},
       "For MP3 File: @\r\n- Set artist to Someone\r\n- Set tracknum to 7\r\n",
       0},
      {{"@", "-set", "title", "-set"},
       "For MP3 File: @\r\n- Set title to -set\r\n",
       0},
      {{"@", "-set", "tracknum", " 007abc", "-set", "year", "", "-set", "title",
        "A", "-set", "title", "B"},
       "For MP3 File: @\r\n- Set tracknum to  007abc\r\n- Set year to \r\n"
       "- Set title to A\r\n- Set title to B\r\n",
       0},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string file = dir / "song.mp3";
    std::string original =
        testing_support::Id3v2(3, testing_support::TextFrame("TIT2", "Old"),
                               100) +
        testing_support::MpegFrames(4);
    testing_support::WriteFile(file, original);
    std::vector<std::string> args;
    for (const std::string& arg : c.args) args.push_back(WithFile(arg, file));
    RunResult result = RunTagwell(args);
    std::string where = args.empty() ? "(none)" : WithFile(c.out, "FILE");
    EXPECT_EQ(result.out, WithFile(c.out, file)) << where;
    EXPECT_EQ(result.status, c.status) << where;
    EXPECT_EQ(result.err, "") << where;
    if (c.status != 0) {
      EXPECT_EQ(ReadFile(file), original) << where;
    }
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"song.mp3"}) << where;
  }
}

TEST(TagwellBinary, WrongCommandIsReportedBeforeTheFileIsLookedAt) {
  RunResult result =
      RunTagwell({"/nonexistent/song.mp3", "-set", "titel", "x"});
  EXPECT_EQ(result.out, kUnknown);
  EXPECT_EQ(result.status, 1);
}

TEST(TagwellBinary, ListsFilesAsLsListsDirectories) {
  TempDir dir;
  const std::string a = dir / "a.mp3", b = dir / "b.mp3";
  const std::string tagged =
      testing_support::Id3v2(3, testing_support::TextFrame("TIT2", "A")) +
      testing_support::MpegFrames(2);
  testing_support::WriteFile(a, tagged);
  testing_support::WriteFile(b, testing_support::MpegFrames(2));
  RunResult several = RunTagwell({"--list", a, dir / "none.mp3", b});
  EXPECT_EQ(several.out, a + ":\ntitle: A\n\n" + b + ":\n");
  EXPECT_EQ(several.err, "tagwell: " + dir / "none.mp3" +
                             ": File error. Cannot open the file.\n");
  EXPECT_EQ(several.status, 1);
  RunResult one = RunTagwell({"--list", a});
  EXPECT_EQ(one.out, "title: A\n");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(ReadFile(a), tagged);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.mp3", "b.mp3"}));
}

TEST(TagwellBinary, UsageIgnoresTheNameItWasCalledBy) {
  RunResult result = RunTagwell({}, [] {
    char* argv[] = {const_cast<char*>("other-name"), nullptr};
    execv(TAGWELL_BINARY, argv);
  });
  EXPECT_EQ(result.out, kUsage);
  EXPECT_EQ(result.status, 0);
}

}  // namespace
