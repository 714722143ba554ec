// Tags as other taggers write them, edited again and again: every frame the
// command does not set stays byte for byte and in order, in every version,
// and the listing reads what the edits left.
#include "tagedit/frame_list.h"

#include <gtest/gtest.h>

#include "tagedit/tag_edit.h"
#include "tagedit/tag_list.h"
#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT: the fixture is this file's
                                  // vocabulary

std::string B(const char* bytes, size_t size) { return {bytes, size}; }

const std::string kAudio = Mpeg(20);
const std::string kTitle = "Na\xC3\xAFve \xCE\xA9mega";
const std::string kPicture = B("\0image/png\0\x03\0\x89PNG", 18);

// The frames the edits below set, as a tag of version `major` holds them.
std::string SetFrames(int major, bool unsynchronised) {
  const char* ids[3][3] = {{"TT2", "COM", "TYE"},
                           {"TIT2", "COMM", "TYER"},
                           {"TIT2", "COMM", "TDRC"}};
  const char** id = ids[major - 2];
  int flags = unsynchronised ? 0x02 : 0;
  std::string title =
      B("\x01\xFF\xFEN\0a\0\xEF\0v\0e\0 \0\xA9\x03m\0e\0g\0a\0", 25);
  if (unsynchronised) title.insert(2, 1, '\0');
  return Frame(id[0], title, flags, major) +
         Frame(id[1], B("\0XXX\0Caf\xE9", 9), flags, major) +
         Frame(id[2], B("\0001989", 5), flags, major);
}

struct Kind {
  const char* name;
  int major;
  std::string stored;    // the tag as another tagger wrote it
  std::string kept;      // its frames the edits must keep, as written back
  int flags;             // the header flags written back
  std::string extended;  // the extended header written back
  std::string v1;        // the file's ID3v1 tag, or empty
  std::string listing;   // besides the title, year and comment set
};

std::vector<Kind> Kinds() {
  std::vector<Kind> kinds;
  std::string kept = Frame("PIC", B("\0PNG\x03\0\x89PNG", 10)) +
                     Frame("COM", B("\0engiTunNORM\0 00", 16)) +
                     Text("TCP", "1") +
                     Frame("TP1", B("\x01\xFF\xFE"
                                    "B\0j\0",
                                    7));
  kinds.push_back(
      {"v2.2, picture, iTunes frames, ID3v1", 2,
       Id3v2(2,
             Text("TT2", "Old") + kept + Frame("COM", B("\0eng\0old", 8)) +
                 Text("TYE", "1999"),
             40),
       kept, 0, "", Id3v1({"Old", "Ann"}, 5, 17), "artist: Bj\n"});
  kept = Frame("TPE1", B("\x01\xFF\xFE"
                         "B\0j\0\xF6\0",
                         9)) +
         Frame("COMM", B("\x01"
                         "eng\xFF\xFE"
                         "D\0\xE9\0\xE5\x65\0\0\xFF\xFEX\0",
                         18)) +
         Frame("TXXX", B("\x03"
                         "desc\0utf8 \xC3\xA9",
                         13)) +
         Text("TCMP", "1");
  kinds.push_back(
      {"v2.3, UTF-16, UTF-8, ID3v1", 3,
       Id3v2(3,
             Frame("TIT2", B("\x01\xFF\xFEO\0l\0d\0", 9)) + kept +
                 Frame("COMM", B("\0XXXID3v1 Comment\0old", 21)) +
                 Frame("COMM", B("\0fra\0vieux", 10)) + Text("TDRC", "2001"),
             10),
       kept, 0, "", Id3v1({"Old"}, 0, 255), "artist: Bj\xC3\xB6\n"});
  // Frame sizes count the bytes before unsynchronisation.
  std::string plain = kPicture + B("\xFF\xE0\xFF\0z", 5);
  kinds.push_back({"v2.3 unsynchronised", 3,
                   Id3v2(3,
                         Frame("APIC", plain).substr(0, 10) + kPicture +
                             B("\xFF\0\xE0\xFF\0\0z", 7) + Text("TIT2", "Old"),
                         20, 0x80),
                   Frame("APIC", plain), 0, "", "", ""});
  kept = Text("TPE2", "Band");
  kinds.push_back({"v2.3, extended header with CRC", 3,
                   Id3v2(3,
                         B("\0\0\0\x0A\x80\0\0\0\0\x14\x12\x34\x56\x78", 14) +
                             Text("TIT2", "Old") + kept,
                         20, 0x40),
                   kept, 0, "", "", ""});
  kept = Frame("TSOP", B("\x03Sort", 5), 0, 4) + Frame("COMM",
                                                       B("\x02"
                                                         "eng\0d\0\0\0X",
                                                         10),
                                                       0, 4);
  kinds.push_back(
      {"v2.4, extended header, sloppy TYER, grouped comment", 4,
       Id3v2(4,
             B("\0\0\0\x0E\x01\x30\x05\1\2\3\4\5\x01\x12", 14) +
                 Frame("TDRC",
                       B("\x03"
                         "2001-05-06",
                         11),
                       0, 4) +
                 kept +
                 Frame("COMM", B("\x07\0\0\0\x09\0eng\0old!", 14), 0x0041, 4) +
                 Text("TYER", "2001", 4),
             30, 0x40),
       kept, 0x40, B("\0\0\0\x08\x01\x10\x01\x12", 8), "", ""});
  kept = Frame("APIC", kPicture + B("\xFF\0\xE0", 3), 0x02, 4);
  kinds.push_back({"v2.4 unsynchronised", 4,
                   Id3v2(4, Text("TIT2", "Old", 4) + kept, 20, 0x80), kept,
                   0x80, "", "", ""});
  kept = Frame("TXXX", B("\x03k\0v", 4), 0, 4);
  std::string tag = Id3v2(4, Text("TIT2", "Old", 4) + kept, 0, 0x10);
  kinds.push_back({"v2.4 with footer", 4,
                   tag + B("3DI\x04\0\x10", 6) + tag.substr(6, 4), kept, 0, "",
                   "", ""});
  // A size of 256 written plainly reads as 128 taken as syncsafe.
  kept = "TXXX" + B("\0\0\x01\0\0\0\x03k\0", 9) + std::string(253, 'v');
  kinds.push_back({"v2.4, iTunes plain frame size", 4,
                   Id3v2(4, kept + Text("TIT2", "Old", 4), 10), kept, 0, "", "",
                   ""});
  kept = Frame("COMM", B("\0en", 3)) + Frame("APIC", B("\0", 1)) +
         Frame("TXXX", B("\x05\0", 2));
  kinds.push_back({"v2.3, malformed comment before a picture", 3,
                   Id3v2(3, kept + Text("TIT2", "Old"), 10), kept, 0, "", "",
                   ""});
  kept = Frame("COMM", B("\0\0\0\x20x\x9C\x01\x02", 8), 0x0080) +
         Frame("TXXX", B("\x01secret", 7), 0x0040) +
         Frame("COMM", B("\x01\0eng\0old", 9), 0x0040);
  kinds.push_back(
      {"v2.3, compressed, encrypted and grouped frames", 3,
       Id3v2(3,
             Frame("TIT2", B("\0\0\0\x10x\x9C\x03", 7), 0x0080) + kept +
                 Frame("COMM", B("\x05\0eng\0old", 9), 0x0020),
             10),
       kept, 0, "", "", ""});
  return kinds;
}

TEST(FrameSplice, EditsChangeOnlyTheFramesTheySet) {
  for (const Kind& kind : Kinds()) {
    TempDir dir;
    std::string file = dir / "song.mp3";
    WriteFile(file, kind.stored + kAudio + kind.v1);
    for (int year = 1980; year < 1990; ++year) {
      ArgumentList args{"tagwell", file, "-set", "year", std::to_string(year)};
      if (year == 1980) {
        args.insert(args.end(), {"-set", "title", kTitle, "-set", "comment",
                                 "Caf\xC3\xA9"});
      }
      SummaryText summary;
      ASSERT_NO_THROW(ApplyTagEdits(args, summary)) << kind.name;
    }
    // The frames set come last, in the order id3lib renders them.
    std::string body =
        kind.extended + kind.kept + SetFrames(kind.major, kind.flags & 0x80);
    std::string bytes = ReadFile(file);
    size_t tag_size = V2TagSize(bytes);
    EXPECT_EQ(bytes.substr(0, 6),
              std::string({'I', 'D', '3', static_cast<char>(kind.major), 0,
                           static_cast<char>(kind.flags)}))
        << kind.name;
    EXPECT_EQ(bytes.substr(10, body.size()), body) << kind.name;
    EXPECT_EQ(bytes.find_first_not_of('\0', 10 + body.size()), tag_size)
        << kind.name;
    EXPECT_EQ(bytes.substr(tag_size), kAudio + bytes.substr(bytes.size() - 128))
        << kind.name;
    EXPECT_EQ(ListFields(file), kind.listing + "title: " + kTitle +
                                    "\nyear: 1989\ncomment: Caf\xC3\xA9\n")
        << kind.name;
  }
}

}  // namespace
}  // namespace tagedit
