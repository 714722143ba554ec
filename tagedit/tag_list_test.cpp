// Listing what a file holds, from tags of every version and encoding.
#include "tagedit/tag_list.h"

#include <gtest/gtest.h>

#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT: the fixture is this file's
                                  // vocabulary

std::string B(const char* bytes, size_t size) { return {bytes, size}; }

TEST(ListFields, DecodesEveryVersionAndEncoding) {
  const std::pair<std::string, std::string> cases[] = {
      {Id3v2(2, Text("TCO", "(17)") + Frame("COM", B("\0eng\0Caf\xE9", 9)) +
                    Text("TYE", "1999") + Text("TT2", "Title") +
                    Text("TAL", "Album") + Text("TP1", "Artist") +
                    Text("TRK", "3/12")),
       "tracknum: 3/12\nartist: Artist\nalbum: Album\ntitle: Title\nyear: "
       "1999\n"
       "comment: Caf\xC3\xA9\ngenre: (17)\n"},
      {Id3v2(3, Frame("TIT2", B("\x01\xFF\xFE\xE5\x65", 5)) +
                    Frame("TPE1", B("\x01\xFE\xFF\0B", 5)) +
                    Frame("TALB", B("\x01h\0", 3)) +
                    Frame("COMM", B("\0engdesc\0other", 14)) +
                    Frame("COMM", B("\x01"
                                    "eng\xFF\xFE\0\0\xFF\xFEo\0",
                                    12))),
       "artist: B\nalbum: h\ntitle: \xE6\x97\xA5\ncomment: o\n"},
      {Id3v2(4, Frame("TIT2", B("\x02\0T\0\xE9", 5), 0, 4) +
                    Frame("TPE1",
                          B("\x03"
                            "A\0B",
                            4),
                          0, 4) +
                    Frame("TCON", B("\0Rock\0Pop\0", 10), 0, 4) +
                    Frame("COMM", B("\x03XXX\0one\ntwo", 12), 0, 4)),
       "artist: A / B\ntitle: T\xC3\xA9\ncomment: one\\ntwo\ngenre: Rock / "
       "Pop\n"},
      {"", ""},
  };
  for (const auto& [tag, listing] : cases) {
    TempDir dir;
    WriteFile(dir / "song.mp3", tag + Mpeg(2));
    EXPECT_EQ(ListFields(dir / "song.mp3"), listing) << listing;
  }
}

}  // namespace
}  // namespace tagedit
