// What each command leaves in the tag: the frames id3lib renders for every
// field and value, and which files are taken for MPEG audio.
#include "tagedit/tag_edit.h"

#include <gtest/gtest.h>

#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

std::string B(const char* bytes, size_t size) { return {bytes, size}; }

const std::string kAudio = Mpeg(20);

// Edits `file` with the groups `words`; returns the file's bytes.
std::string Edit(const std::string& file,
                 const std::vector<std::string>& words) {
  ArgumentList args{"tagwell", file};
  args.insert(args.end(), words.begin(), words.end());
  SummaryText summary;
  ApplyTagEdits(args, summary);
  return ReadFile(file);
}

TEST(TagEdit, EachValueBecomesTheFrameItNeeds) {
  const std::string all = Text("TRCK", "5") + Text("TPE1", "a") +
                          Text("TALB", "b") + Text("TIT2", "c") +
                          Text("TYER", "2000") +
                          Frame("COMM", B("\0XXX\0d", 6)) + Text("TCON", "e");
  struct Case {
    std::string start;  // the frames of the file's v2.3 tag
    std::vector<std::string> words;
    FrameList frames;
  };
  // clang-format off
  const Case cases[] = {
      {"", {"-set", "tracknum", "7", "-set", "artist", "Ann", "-set", "album", "Alb", "-set", "title",
            "Tit", "-set", "year", "1999", "-set", "comment", "Com", "-set", "genre", "(17)"},
       {{"TRCK", B("\0" "7", 2)}, {"TPE1", B("\0Ann", 4)}, {"TALB", B("\0Alb", 4)},
        {"TIT2", B("\0Tit", 4)}, {"TYER", B("\0001999", 5)}, {"COMM", B("\0XXX\0Com", 8)},
        {"TCON", B("\0(17)", 5)}}},
      {"", {"-set", "tracknum", " 007", "-set", "genre", "Rock"},
       {{"TRCK", B("\0" "7", 2)}, {"TCON", B("\0Rock", 5)}}},
      {"", {"-set", "tracknum", "+3/12"}, {{"TRCK", B("\0" "3/12", 5)}}},
      {"", {"-set", "tracknum", "12abc"}, {{"TRCK", B("\0" "12", 3)}}},
      {"", {"-set", "tracknum", "255/255"}, {{"TRCK", B("\0" "255/255", 8)}}},
      {"", {"-set", "tracknum", "3/256"}, {{"TRCK", B("\0" "3", 2)}}},
      {"", {"-set", "tracknum", "3/0"}, {{"TRCK", B("\0" "3", 2)}}},
      {"", {"-set", "tracknum", "3/12x"}, {{"TRCK", B("\0" "3", 2)}}},
      {"", {"-set", "title", "Bj\xC3\xB6rk"}, {{"TIT2", B("\0Bj\xF6rk", 6)}}},
      // Not UTF-8, stored as typed: cut short, overlong twice, a surrogate,
      // past U+10FFFF, a lone or a bad continuation.
      {"", {"-set", "title", "\xC3\xE6\x97\xA5"}, {{"TIT2", B("\0\xC3\xE6\x97\xA5", 5)}}},
      {"", {"-set", "title", "\xC0\xAF\xE6\x97\xA5"}, {{"TIT2", B("\0\xC0\xAF\xE6\x97\xA5", 6)}}},
      {"", {"-set", "title", "\xE0\x80\xAF\xE6\x97\xA5"}, {{"TIT2", B("\0\xE0\x80\xAF\xE6\x97\xA5", 7)}}},
      {"", {"-set", "title", "\xED\xA0\x80\xE6\x97\xA5"}, {{"TIT2", B("\0\xED\xA0\x80\xE6\x97\xA5", 7)}}},
      {"", {"-set", "title", "\xF4\x90\x80\x80\xE6\x97\xA5"}, {{"TIT2", B("\0\xF4\x90\x80\x80\xE6\x97\xA5", 8)}}},
      {"", {"-set", "title", "\x80\xE6\x97\xA5"}, {{"TIT2", B("\0\x80\xE6\x97\xA5", 5)}}},
      {"", {"-set", "title", "caf\xE9"}, {{"TIT2", B("\0caf\xE9", 5)}}},
      {"", {"-set", "title", "\xC3\xBF\xC4\x80\xF4\x8F\xBF\xBF"},
       {{"TIT2", B("\x01\xFF\xFE\xFF\0\0\x01\xFF\xDB\xFF\xDF", 11)}}},
      {"", {"-set", "title", "\xE6\x97\xA5"}, {{"TIT2", B("\x01\xFF\xFE\xE5\x65", 5)}}},
      {"", {"-set", "title", "a\xF0\x9F\x98\x80"}, {{"TIT2", B("\x01\xFF\xFE" "a\0\x3D\xD8\x00\xDE", 9)}}},
      {"", {"-set", "comment", "\xE2\x99\xA5"}, {{"COMM", B("\x01XXX\0\0\xFF\xFE\x65\x26", 10)}}},
      {"", {"-set", "title", "A", "-set", "title", "B"}, {{"TIT2", B("\0B", 2)}}},
      // Over 127 bytes, a plain size that misreads as syncsafe.
      {"", {"-set", "title", std::string(300, 'X')}, {{"TIT2", '\0' + std::string(300, 'X')}}},
      {all, {"-set", "title", "", "-set", "tracknum", "", "-set", "comment", "", "-set", "artist", "",
             "-set", "album", "", "-set", "genre", "", "-set", "year", "2001"},
       {{"TYER", B("\0002001", 5)}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    TempDir dir;
    WriteFile(dir / "song.mp3",
              (c.start.empty() ? "" : Id3v2(3, c.start)) + kAudio);
    std::string bytes = Edit(dir / "song.mp3", c.words);
    EXPECT_EQ(Frames(bytes), c.frames) << c.words[2];
    EXPECT_TRUE(AudioOf(bytes) == kAudio) << c.words[2];
  }
}

TEST(TagEdit, EveryKindOfMpegAudioIsTagged) {
  auto frames = [](const char* header, size_t length, size_t count = 3) {
    return Mpeg(count, std::string(header, 4), length);
  };
  const std::string second = Id3v2(3, Text("TIT2", "2"), 65536);
  // What follows the first tag, and all of it is audio to the edit.
  const std::pair<const char*, std::string> cases[] = {
      {"MPEG-2 layer III", frames("\xFF\xF3\x80\0", 208)},
      {"MPEG-2.5 layer III", frames("\xFF\xE3\x40\0", 208)},
      {"MPEG-1 layer I", frames("\xFF\xFF\x40\0", 136)},
      {"MPEG-1 layer II", frames("\xFF\xFD\x80\0", 417)},
      {"padded frames", frames("\xFF\xFB\x92\0", 418)},
      {"one frame", frames("\xFF\xFB\x90\0", 417, 1)},
      {"junk first", std::string(4000, '\0') + "junk" + kAudio},
      // A second tag is audio to the edit, but does not hide what follows.
      {"a second tag", second + kAudio},
  };
  for (const auto& [name, audio] : cases) {
    TempDir dir;
    WriteFile(dir / "song.mp3", Id3v2(3, Text("TIT2", "1")) + audio);
    EXPECT_TRUE(AudioOf(Edit(dir / "song.mp3", {"-set", "title", "T"})) ==
                audio)
        << name;
  }
  // A header whose size has a high bit set is no tag, but junk before the
  // audio.
  TempDir dir;
  const std::string junk = std::string("ID3\x03\0\0\0\0\x80\0", 10) + kAudio;
  WriteFile(dir / "song.mp3", junk);
  EXPECT_TRUE(AudioOf(Edit(dir / "song.mp3", {"-set", "title", "T"})) == junk);
}

}  // namespace
}  // namespace tagedit
