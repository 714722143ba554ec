// What each command leaves in the tags: the frames id3lib renders for every
// field and value, the frames an empty value removes, and the ID3v1 tag; and
// tags as other taggers write them, edited again and again, where every frame
// the command does not set stays byte for byte and in order, in every
// version, and the listing reads what the edits left.
#include "tagedit/tag_edit.h"

#include <gtest/gtest.h>

#include "tagedit/tag_list.h"
#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

TEST(TagEdit, EachValueBecomesTheFrameItNeeds) {
  struct Case {
    std::string start;  // the file's ID3v2 tag
    std::vector<std::string> words;
    std::string frames;  // after the edit, where given
    // What follows the audio before, and after if given: the ID3v1 tag and
    // what other taggers append behind it.
    std::string v1 = "", v1_after = "";
  };
  // clang-format off
  const std::string all = Id3v2(3, Text("TRCK", "5") + Text("TPE1", "a") + Text("TALB", "b") + Text("TIT2", "c") +
                                       Text("TYER", "2000") + Frame("COMM", "\0XXX\0d"s) + Text("TCON", "e"));
  // Blank-padded, as some taggers write it: kept byte for byte.
  const std::string old_v1 = Id3v1({"Old", "Ann  ", "Alb", "1999", "v1"}, 1, 17), c31(31, 'c');
  const std::string tagged = Id3v2(3, Frame("TPE1", "\x01\xFF\xFE\xE5\x65\x2C\x67"s) + Text("TCON", "Rock") +
                                          Text("TRCK", "4/9") + Text("TYER", "2001") + Frame("COMM", "\0eng\0hi"s) +
                                          Text("TIT2", "Title"));
  // An APEv2 tag with a header, a Lyrics3v2 block, an appended v2.4 tag.
  const std::string ape = "APETAGEX\xD0\x07\0\0\x2A\0\0\0\0\0\0\0\0\0\0\x80"s + std::string(8, '\0'),
                    appended[] = {ape + "0123456789" + ape,
                                  "LYRICSBEGINabcd000015LYRICS200",
                                  Id3v2(4, Text("TIT2", "x", 4), 0, 0x10) + "3DI\x04\0\x10\0\0\0\x0C"s};
  const Case cases[] = {
      {"", {"-set", "tracknum", "7", "-set", "artist", "Ann", "-set", "album", "Alb", "-set", "title",
            "Tit", "-set", "year", "1999", "-set", "comment", "Com", "-set", "genre", "(17)"},
       Text("TRCK", "7") + Text("TPE1", "Ann") + Text("TALB", "Alb") + Text("TIT2", "Tit") +
           Text("TYER", "1999") + Frame("COMM", "\0XXX\0Com"s) + Text("TCON", "(17)")},
      {"", {"-set", "tracknum", " 007", "-set", "genre", "Rock"}, Text("TRCK", "7") + Text("TCON", "Rock"), "",
       Id3v1({}, 7, 17)},
      {"", {"-set", "tracknum", "+3/12"}, Text("TRCK", "3/12")}, {"", {"-set", "tracknum", "12abc"}, Text("TRCK", "12")},
      {"", {"-set", "tracknum", "255/255"}, Text("TRCK", "255/255"), "", Id3v1({}, 255, 255)},
      {"", {"-set", "tracknum", "3/256"}, Text("TRCK", "3")}, {"", {"-set", "tracknum", "3/0"}, Text("TRCK", "3")},
      {"", {"-set", "tracknum", "3/12x"}, Text("TRCK", "3")}, {"", {"-set", "title", "Bj\xC3\xB6rk"}, Text("TIT2", "Bj\xF6rk")},
      // Not UTF-8, stored as typed: cut short, overlong twice, two surrogates,
      // past U+10FFFF, a lone or a bad continuation.
      {"", {"-set", "title", "\xC3\xE6\x97\xA5"}, Text("TIT2", "\xC3\xE6\x97\xA5")}, {"", {"-set", "title", "\xC0\xAF\xE6\x97\xA5"}, Text("TIT2", "\xC0\xAF\xE6\x97\xA5")},
      {"", {"-set", "title", "\xE0\x9F\xBF\xE6\x97\xA5"}, Text("TIT2", "\xE0\x9F\xBF\xE6\x97\xA5")},
      {"", {"-set", "title", "\xC2\x80\xE0\xA0\x80"}, Frame("TIT2", "\x01\xFF\xFE\x80\0\0\x08"s)},  // the least of 2 and 3 bytes
      {"", {"-set", "title", "\xED\xA0\x80\xE6\x97\xA5"}, Text("TIT2", "\xED\xA0\x80\xE6\x97\xA5")}, {"", {"-set", "title", "\xED\xBF\xBF\xE6\x97\xA5"}, Text("TIT2", "\xED\xBF\xBF\xE6\x97\xA5")},
      {"", {"-set", "title", "\xF4\x90\x80\x80\xE6\x97\xA5"}, Text("TIT2", "\xF4\x90\x80\x80\xE6\x97\xA5")},
      {"", {"-set", "title", "\x80\xE6\x97\xA5"}, Text("TIT2", "\x80\xE6\x97\xA5")}, {"", {"-set", "title", "\xF8\xE6\x97\xA5"}, Text("TIT2", "\xF8\xE6\x97\xA5")},
      {"", {"-set", "title", "caf\xE9"}, Text("TIT2", "caf\xE9")}, {"", {"-set", "title", "\xE6\x97\xA5"}, Frame("TIT2", "\x01\xFF\xFE\xE5\x65"s)},
      {"", {"-set", "title", "\xC3\xBF\xC4\x80\xF4\x8F\xBF\xBF"}, Frame("TIT2", "\x01\xFF\xFE\xFF\0\0\x01\xFF\xDB\xFF\xDF"s)},
      {"", {"-set", "title", "a\xF0\x90\x80\x80"}, Frame("TIT2", "\x01\xFF\xFE" "a\0\x00\xD8\x00\xDC"s)},
      {"", {"-set", "comment", "\xE2\x99\xA5"}, Frame("COMM", "\x01XXX\xFF\xFE\0\0\xFF\xFE\x65\x26"s)},
      {"", {"-set", "title", "A", "-set", "tracknum", "1", "-set", "title", "B", "-set", "tracknum", "2"},
       Text("TIT2", "B") + Text("TRCK", "2")},
      {Id3v2(2, ""), {"-set", "comment", std::string(70000, 'c')}, Frame("COM", "\0XXX\0"s + std::string(70000, 'c'))},
      {Id3v2(3, Text("TDAT", "0506") + Text("TIT2", "x") + Text("TIME", "1200"), 99), {"-set", "title", "", "-set", "year", ""},
       "no tag"},  // its last frames gone
      // Over 127 bytes, a plain size that misreads as syncsafe.
      {"", {"-set", "title", std::string(300, 'X')}, Text("TIT2", std::string(300, 'X'))},
      {all, {"-set", "title", "", "-set", "tracknum", "", "-set", "comment", "", "-set", "artist", "",
             "-set", "album", "", "-set", "genre", "", "-set", "year", "2001"},
       Text("TYER", "2001")},
      // The ID3v1 tag: Latin-1 or '?', cut to its slots, a track with its
      // total, genre names as numbers, the fields not set kept.
      {"", {"-set", "title", "Na\xC3\xAFve \xCE\xA9mega", "-set", "artist", "Bj\xC3\xB6rk", "-set", "genre",
            "metal", "-set", "tracknum", "3/12", "-set", "comment", c31},
       "", "", Id3v1({"Na\xEFve ?mega", "Bj\xF6rk", "", "", std::string(28, 'c')}, 3, 9)},
      {tagged, {"-set", "title", "New"}, "", old_v1, Id3v1({"New", "Ann  ", "Alb", "1999", "v1"}, 1, 17)},
      {tagged, {"-set", "album", "A"}, "", "", Id3v1({"Title", "??", "A", "2001", "hi"}, 4, 17)},
      {"", {"-set", "title", "", "-set", "tracknum", "", "-set", "genre", "", "-set", "comment", c31},
       "", old_v1, Id3v1({"", "Ann  ", "Alb", "1999", std::string(28, 'c')}, 0, 255)},
      {"", {"-set", "album", std::string(31, 'a'), "-set", "genre", "blues"}, "", Id3v1({"", "", "", "", std::string(30, 'c')}, 0, 17),
       Id3v1({"", "", std::string(30, 'a'), "", std::string(28, 'c')}, 0, 0)},  // v1.0 becomes v1.1
      {Id3v2(4, Text("TDRC", "2001-05-06", 4)), {"-set", "title", "T"}, "", "", Id3v1({"T", "", "", "2001"}, 0, 255)},
      // Genres by number or by id3lib's name, in any case and without its
      // trailing blank; 255 for none.
      {"", {"-set", "genre", "107"}, "", "", Id3v1({}, 0, 107)}, {"", {"-set", "genre", "(9)Metal"}, "", "", Id3v1({}, 0, 9)},
      {"", {"-set", "genre", "mEtAl"}, "", "", Id3v1({}, 0, 9)}, {"", {"-set", "genre", "256"}, "", "", Id3v1({}, 0, 255)},
      {"", {"-set", "genre", "Mathcore"}, "", "", Id3v1({}, 0, 255)}, {"", {"-set", "genre", "a CAPELLA"}, "", "", Id3v1({}, 0, 123)},
      {"", {"-set", "genre", "Christian Rock"}, "", "", Id3v1({}, 0, 141)}, {"", {"-set", "tracknum", "1"}, Text("TRCK", "1"), "", Id3v1({}, 1, 255)},
      // The ID3v1 tag rewritten where it is; nothing set on an untagged file.
      {"", {"-set", "title", "T"}, "", Id3v1({"Old"}, 0, 255) + appended[0], Id3v1({"T"}, 0, 255) + appended[0]},
      {"", {"-set", "title", "T"}, "", Id3v1({"Old"}, 0, 255) + appended[1], Id3v1({"T"}, 0, 255) + appended[1]},
      {"", {"-set", "title", "T"}, "", Id3v1({"Old"}, 0, 255) + appended[2], Id3v1({"T"}, 0, 255) + appended[2]},
      {"", {"-set", "title", ""}, "no tag", appended[0], appended[0]},
  };
  // clang-format on
  const std::string audio = Mpeg(20);
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "song.mp3", c.start + audio + c.v1);
    std::string bytes = Edit(dir / "song.mp3", c.words);
    SCOPED_TRACE("row " + std::to_string(&c - cases));
    // A row that leaves a tag out leaves it to the other rows.
    EXPECT_EQ(c.frames.empty() ? "" : Frames(bytes), c.frames);
    EXPECT_TRUE(c.v1_after.empty()
                    ? AudioOf(bytes) == audio
                    : bytes.substr(V2TagSize(bytes)) == audio + c.v1_after);
  }
  // A long value in a tag of iTunes' plain sizes gets a plain size too, or
  // the next read would find two rules in one tag.
  TempDir dir;
  WriteFile(dir / "song.mp3",
            Id3v2(4, Text("TPE1", std::string(199, 'a'))) + audio);
  Edit(dir / "song.mp3", {"-set", "title", std::string(300, 'T')});
  EXPECT_EQ(ListFields(dir / "song.mp3"),
            "artist: " + std::string(199, 'a') +
                "\ntitle: " + std::string(300, 'T') + "\n");
  // A listed value, its escapes undone, is the value that was set.
  const std::string value =
      "a\\b\nc\td\re\x01"
      "f\x7F \xC3\xA9";
  WriteFile(dir / "song.mp3", audio);
  Edit(dir / "song.mp3", {"-set", "artist", value});
  std::string listed = ListFields(dir / "song.mp3").substr(8), back;
  for (size_t i = 0; i + 1 < listed.size(); ++i) {
    char c = listed[i] == '\\' ? listed[++i] : 0;
    back += !c         ? listed[i]
            : c == 'n' ? '\n'
            : c == 'r' ? '\r'
            : c == 't' ? '\t'
            : c == 'x' ? char(std::stoi(listed.substr(i + 1, 2), nullptr, 16))
                       : c;
    if (c == 'x') i += 2;
  }
  EXPECT_EQ(back, value);
}

const std::string kTitle = "Na\xC3\xAFve \xCE\xA9me\xC3\xBFga";
const std::string kComment = "Caf\xC3\xA9\xC3\xBF\xC3\xA0";
// How --list shows the fields the edits set.
const std::string kListed =
    "title: " + kTitle + "\nyear: 1989\ncomment: " + kComment + "\n";
const std::string kPicture = "\0image/png\0\x03\0\x89PNG"s;

// The frames after the edits below, as a tag of version `major` holds them,
// in `order`: T, C and Y for the title, comment and year set, '|' for `kept`.
std::string SetFrames(int major, bool unsynchronised, const std::string& order,
                      const std::string& kept) {
  const char* ids[] = {"TT2",  "COM",  "TYE",  "TIT2", "COMM",
                       "TYER", "TIT2", "COMM", "TDRC"};
  const char** id = ids + 3 * (major - 2);
  int flags = unsynchronised ? 0x02 : 0;
  std::string title =
      "\x01\xFF\xFEN\0a\0\xEF\0v\0e\0 \0\xA9\x03m\0e\0\xFF\0g\0a\0"s;
  std::string comment = "\0XXX\0Caf\xE9\xFF\xE0"s;
  if (unsynchronised) {
    title.insert(2, 1, '\0'), title.insert(title.find("\xFF\0g"s) + 1, 1, '\0');
    comment.insert(10, 1, '\0');
  }
  const std::string set[] = {Frame(id[0], title, flags, major),
                             Frame(id[1], comment, flags, major),
                             Frame(id[2], "\0001989"s, flags, major)};
  std::string frames;
  for (char c : order) frames += c == '|' ? kept : set["TCY"s.find(c)];
  return frames;
}

const std::string kKept4 = Frame("APIC", kPicture + "\xFF\0\xE0"s, 0x02, 4);

// `tag` with a v2.4 footer behind it.
std::string WithFooter(const std::string& tag) {
  return tag + "3DI" + tag.substr(3, 7);
}

struct Kind {
  int major;
  std::string stored;    // the tag another tagger wrote: without `kept` and
                         // its header, or whole
  std::string kept;      // its frames the edits must keep, put in front
  std::string order;     // of the frames after the edits, as SetFrames() takes
  int flags;             // the header flags written back
  std::string extended;  // the extended header written back
  std::string v1;        // the file's ID3v1 tag, or empty
  std::string listing;   // what --list shows; "*" for the fields set
  std::string front = "";  // the extended header as stored
};

// clang-format off
const Kind kKinds[] = {
    {2, Text("TT2", "Old") + Frame("COM", "\0eng\0old"s) + Text("TYE", "1999") + Text("TIM", "1200") + Text("TDA", "0506"),
     Frame("PIC", "\0PNG\x03\0\x89PNG"s) + Frame("COM", "\0engiTunNORM\0 00"s) +
         Text("TCP", "1") + Frame("TP1", "\x01\xFF\xFE" "B\0j\0"s) + Text("TAL", "Album") +
         Text("TRK", "3/12") + Text("TCO", "(17)"),
     "YTC|", 0, "", Id3v1({"Old", "Ann"}, 5, 17), "tracknum: 3/12\nartist: Bj\nalbum: Album\n*genre: (17)\n"},
    // UTF-16 and UTF-8 text, old id3lib's comment, a comment in French, a
    // sloppy v2.4 year; a malformed comment and a short picture are kept.
    {3, Text("TDAT", "0506") + Frame("TIT2", "\x01\xFF\xFEO\0l\0d\0"s) + Frame("COMM", "\0XXXID3v1 Comment\0old"s) +
         Frame("COMM", "\0fra\0vieux"s) + Text("TDRC", "2001") + Frame("COMM", "\0eng"s) + Text("TIME", "1200"),
     Frame("TPE1", "\x01\xFF\xFE" "B\0j\0\xF6\0\0\0"s) + Frame("TXXX", "\x03" "d\0\xC3\xA9"s) +
         Frame("TALB", "\x01\xFE\xFF\0h\xD8\x3D\xDE\x00"s) + Frame("TCON", "\x01\xFF\0"s) + Frame("TRCK", "\x01\xFF\xFE"s) +
         Frame("COMM", "\x01" "eng\xFF\xFE" "D\0\xE5\x65\0\0\xFF\xFEX\0"s) +
         Frame("COMM", "\0en"s) + Frame("APIC", "\0"s),
     "YTC|", 0, "", Id3v1({"Old"}, 0, 255), "tracknum: \nartist: Bj\xC3\xB6\nalbum: h\xF0\x9F\x98\x80\n*genre: \xC3\xBF\n"},
    // An extended header with a CRC; compressed, encrypted and grouped
    // frames; a comment inflating past the tag's budget, whose description
    // is read all the same.
    {3, Frame("TIT2", "\0\0\0\x10x\x9C\x03"s, 0x0080) + Frame("COMM", "\x05\0eng\0old"s, 0x0020) +
         Frame("COMM", Compressed("\0XXX\0"s + std::string(2 << 20, 'c')), 0x0080) +
         Frame("COMM", "\0\0\0\x08\x78\x9C\x63\x48\xCD\x4B\x67\xC8\xCF\x49\x01\0\x09\xEB\x02\x7A"s, 0x0080),
     Frame("COMM", "\0\0\0\x20x\x9C\x01\x02"s, 0x0080) + Frame("TXXX", "\x01secret"s, 0x0040) +
         Frame("COMM", "\x01\0eng\0old"s, 0x0040),
     "YTC|", 0, "", "", "*", "\0\0\0\x0A\x80\0\0\0\0\x14\x12\x34\x56\x78"s},
    // v2.4: an extended header with a CRC and restrictions, a sloppy v2.3
    // year, a grouped comment with a data length, UTF-16BE.
    {4, Frame("TDRC", "\x03" "2001-05-06"s, 0, 4) + Text("TYER", "2001", 4) +
         Frame("COMM", "\x07\0\0\0\x09\0eng\0old!"s, 0x0041, 4),
     Frame("TSOP", "\x03Sort"s, 0, 4) + Frame("COMM", "\x02" "eng\0d\0\0\0X"s, 0, 4) +
         Frame("COMM", "\0\0\0\x08\0engd\0x"s, 0x0001, 4) +
         Frame("TPE1", "\x03" "A\0B"s, 0, 4) + Frame("TCON", "\x01\xFF\xFER\0\0\0\xFF\xFEP\0"s, 0, 4) +
         Frame("XZ09", std::string(200, 'p'), 0, 4) +
         Frame("TALB", "\x02\xD8\x3D\xDE\x00\xD8\x00\0\n\0h\xE0\x00\xD8\x00\xDC"s, 0, 4) +
         Frame("TXXX", "\x03k\0"s + std::string(253, 'v'), 0, 4),
     "YTC|", 0x40, "\0\0\0\x08\x01\x10\x01\x12"s, "",
     "artist: A / B\nalbum: \xF0\x9F\x98\x80\xEF\xBF\xBD\\nh\xEE\x80\x80\xEF\xBF\xBD\n*genre: R / P\n",
     "\0\0\0\x0E\x01\x30\x05\1\2\3\4\5\x01\x12"s},
    // Whole tags. Unsynchronised: v2.3 frame sizes count the bytes before it;
    // a v2.4 tag keeps it and its new frames get it too. A footer goes, and a
    // CRC with all the extended header holds.
    {3, Id3v2(3, Text("TIT2", "Old") + Frame("APIC", kPicture + "\xFF\xE0\xFF\0z\xFF"s).substr(0, 10) + kPicture +
                     "\xFF\0\xE0\xFF\0\0z\xFF\0"s, 0, 0x80),
     Frame("APIC", kPicture + "\xFF\xE0\xFF\0z\xFF"s), "YTC|", 0, "", "", "*"},
    {4, WithFooter(Id3v2(4, "\0\0\0\x0C\x01\x20\x05\1\2\3\4\5"s + Text("TIT2", "Old", 4) + kKept4, 0, 0xD0)),
     kKept4, "YTC|", 0x80, "", "", "*"},
    // iTunes' plain sizes in v2.4: 300 read as syncsafe lands on a zero
    // inside the picture.
    {4, Text("TIT2", "Old"), Frame("APIC", kPicture + std::string(155, 'p') + '\0' + std::string(127, 'q')) +
         Text("TPE1", "Kept"), "YTC|", 0, "", "", "artist: Kept\n*"},
    // An extended header flagged but not there, an id with a blank, blanks
    // for padding.
    {4, Id3v2(4, Frame("TYE ", "\0" "1999"s, 0, 4) + Text("TIT2", "Old", 4) + std::string(20, ' '), 0, 0x40),
     Frame("TYE ", "\0" "1999"s, 0, 4), "YTC|", 0, "", "", "*"},
    // Frames behind a block that looks like an unflagged extended header:
    // kept as they are, behind the frames set.
    {3, Id3v2(3, "\0\0\0\x06\0\0\0\0\0\0"s + Text("TIT2", "Old") + Text("TPE1", "Ann"), 30),
     "\0\0\0\x06\0\0\0\0\0\0"s + Text("TIT2", "Old") + Text("TPE1", "Ann"), "YTC|", 0, "", "", "*"},
    // ID3v1 alone: its fields become frames.
    {3, "", Text("TPE1", "Ann") + Text("TALB", "Alb") + Text("TRCK", "5") + Text("TCON", "(17)"), "Y|TC", 0, "",
     Id3v1({"Old", "Ann", "Alb", "", "v1"}, 5, 17), "tracknum: 5\nartist: Ann\nalbum: Alb\n*genre: (17)\n"},
};
// clang-format on

TEST(FrameSplice, EditsChangeOnlyTheFramesTheySet) {
  for (const Kind& kind : kKinds) {
    TempDir dir;
    std::string file = dir / "song.mp3";
    SCOPED_TRACE("kind " + std::to_string(&kind - kKinds));
    bool whole = kind.stored.empty() || kind.stored.compare(0, 3, "ID3") == 0;
    WriteFile(file,
              (whole ? kind.stored
                     : Id3v2(kind.major, kind.front + kind.kept + kind.stored,
                             30, kind.front.empty() ? 0 : 0x40)) +
                  Mpeg(20) + kind.v1);
    Edit(file, {"-set", "title", kTitle, "-set", "comment", kComment});
    for (int year = 1980; year < 1990; ++year)
      Edit(file, {"-set", "year", std::to_string(year)});
    // The header's version and flags, the frames, then padding.
    std::string bytes = ReadFile(file), padding(V2TagSize(bytes), '\0');
    std::string body =
        std::string{char(kind.major), 0, char(kind.flags)} + kind.extended +
        SetFrames(kind.major, kind.flags & 0x80, kind.order, kind.kept);
    EXPECT_EQ(bytes.substr(3, 3) + bytes.substr(10, padding.size() - 10),
              body + padding.substr(body.size() + 7));
    EXPECT_TRUE(AudioOf(bytes) == Mpeg(20));
    std::string listing = kind.listing;
    listing.replace(listing.find('*'), 1, kListed);
    EXPECT_EQ(ListFields(file), listing);
  }
}

}  // namespace
}  // namespace tagedit
