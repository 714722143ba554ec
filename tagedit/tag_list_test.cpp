// Listing what a file holds, from tags of every version and encoding.
#include "tagedit/tag_list.h"

#include <gtest/gtest.h>

#include "test/support.h"

namespace tagedit {
namespace {

using testing_support::Frame;
using testing_support::Id3v1;
using testing_support::Id3v2;
using testing_support::MpegFrames;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Bytes(const char* bytes, size_t size) { return {bytes, size}; }

TEST(ListFields, DecodesEveryVersionAndEncoding) {
  struct Case {
    const char* name;
    std::string tags;  // in front of the audio, or an ID3v1 tag ("TAG...")
    std::string listing;
  };
  const Case cases[] = {
      {"v2.2, ISO-8859-1",
       Id3v2(2, Frame("TCO", Bytes("\0(17)", 5)) +
                    Frame("COM", Bytes("\0eng\0Caf\xE9", 9)) +
                    Frame("TYE", Bytes("\0"
                                       "1999",
                                       5)) +
                    Frame("TT2", Bytes("\0Title", 6)) +
                    Frame("TAL", Bytes("\0Album", 6)) +
                    Frame("TP1", Bytes("\0Artist", 7)) +
                    Frame("TRK", Bytes("\0"
                                       "3/12",
                                       5))),
       "tracknum: 3/12\nartist: Artist\nalbum: Album\ntitle: Title\n"
       "year: 1999\ncomment: Caf\xC3\xA9\ngenre: (17)\n"},
      {"v2.3, UTF-16 in both byte orders, comments with descriptions",
       Id3v2(3, Frame("TIT2", Bytes("\x01\xFF\xFE\xE5\x65\x2C\x67", 7)) +
                    Frame("TPE1", Bytes("\x01\xFE\xFF\0B\0j", 7)) +
                    Frame("TALB", Bytes("\x01h\0i\0", 5)) +
                    Frame("COMM", Bytes("\0engdesc\0other", 14)) +
                    Frame("COMM", Bytes("\x01"
                                        "eng\xFF\xFE\0\0\xFF\xFEo\0k\0",
                                        14))),
       "artist: Bj\nalbum: hi\ntitle: \xE6\x97\xA5\xE6\x9C\xAC\ncomment: ok\n"},
      {"v2.4, UTF-16BE, UTF-8, several values, a line break",
       Id3v2(4, Frame("TIT2", Bytes("\x02\0T\0\xE9", 5), 0, 4) +
                    Frame("TPE1",
                          Bytes("\x03"
                                "A\0B\xC3\xB6",
                                6),
                          0, 4) +
                    Frame("TDRC",
                          Bytes("\x03"
                                "2001-05-06",
                                11),
                          0, 4) +
                    Frame("TCON", Bytes("\0Rock\0Pop\0", 10), 0, 4) +
                    Frame("COMM", Bytes("\x03XXX\0one\ntwo", 12), 0, 4)),
       "artist: A / B\xC3\xB6\ntitle: T\xC3\xA9\nyear: 2001-05-06\n"
       "comment: one\\ntwo\ngenre: Rock / Pop\n"},
      {"ID3v1 alone", Id3v1({"Old", "Ann", "", "1999", "c"}, 5, 17),
       "tracknum: 5\nartist: Ann\ntitle: Old\nyear: 1999\ncomment: c\n"
       "genre: (17)\n"},
      {"no tag", "", ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    bool v1 = c.tags.compare(0, 3, "TAG") == 0;
    WriteFile(dir / "song.mp3",
              v1 ? MpegFrames(2) + c.tags : c.tags + MpegFrames(2));
    EXPECT_EQ(ListFields(dir / "song.mp3"), c.listing) << c.name;
  }
}

}  // namespace
}  // namespace tagedit
