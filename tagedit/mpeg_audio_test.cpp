// MPEG audio is told by two frame headers a frame's length apart.
#include "tagedit/mpeg_audio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

// Whether the file of `bytes` holds MPEG audio behind the tag it starts with.
bool Holds(const TempDir& dir, const std::string& bytes) {
  WriteFile(dir / "a", bytes);
  int fd = open((dir / "a").c_str(), O_RDONLY);
  bool holds = HoldsMpegAudio(fd, V2TagSize(bytes), bytes.size());
  close(fd);
  return holds;
}

// Every bitrate and sample rate of every version and layer, padded or not, at
// the frame length the standard gives; frames one byte longer than their
// header says are no audio.
TEST(MpegAudio, FramesOfEveryBitrateRateAndLayerAreFound) {
  // clang-format off
  // kbit/s by bitrate index 1 to 14, for layer I, II, III: MPEG-1, then MPEG-2 and 2.5.
  const int kbps[2][3][14] = {
      {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  const int hz[4][3] = {{11025, 12000, 8000}, {}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  // clang-format on
  TempDir dir;
  for (int version : {0, 2, 3})
    for (int layer = 1; layer <= 3; ++layer)  // I, II, III
      for (int index = 1; index <= 14; ++index)
        for (int rate = 0; rate < 3; ++rate)
          for (int k = 0; k < 4; ++k) {  // padded or not, one byte off or not
            int pad = k % 2, off = k / 2;
            int bps = kbps[version != 3][layer - 1][index - 1] * 1000;
            int slots =
                layer == 1 ? 12 : (layer == 3 && version != 3 ? 72 : 144);
            int length =
                (slots * bps / hz[version][rate] + pad) * (layer == 1 ? 4 : 1);
            std::string header = {'\xFF',
                                  char(0xE1 | version << 3 | (4 - layer) << 1),
                                  char(index << 4 | rate << 2 | pad << 1), 0};
            EXPECT_EQ(Holds(dir, Mpeg(2, header, length + off)), off == 0)
                << header << length;
          }
}

// Other formats hold MPEG audio verbatim, bare or behind an ID3v2 tag; the
// audio alone is found within 1 MiB of zeros, and in free format by three
// frames, padded or not, as far apart as the first two say.
TEST(MpegAudio, OnlyMpegAudioIsMpegAudio) {
  const std::string audio = Mpeg(2), free = "\xFF\xFB\0\0"s,
                    padded = "\xFF\xFB\x02\0"s;
  std::string ts;
  for (int i = 0; i < 4; ++i) ts += '\x47' + std::string(187, '\0');
  // clang-format off
  const std::string containers[] = {
      "fLaC", "OggS", "RIFF\x10\0\0\0WAVE"s, "RF64\xFF\xFF\xFF\xFFWAVE"s, "BW64\xFF\xFF\xFF\xFFWAVE"s,
      "riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\0\0"s,
      "FORM\0\0\0\0AIFF"s, "caff\0\x01\0\0"s, "\0\0\0\x20" "ftypM4A "s, "\x1A\x45\xDF\xA3",
      "\x30\x26\xB2\x75\x8E\x66\xCF\x11", "FLV\x01", "\0\0\x01\xBA"s, "\0\0\x01\xBB"s, "\0\0\x01\xB3"s,
      "PK\x03\x04", "PK\x05\x06", std::string(257, '\0') + "ustar", std::string(32769, '\0') + "CD001", ts};
  // clang-format on
  TempDir dir;
  for (const std::string& container : containers)
    for (const std::string& tag : {""s, Id3v2(3, "", 20)})
      EXPECT_FALSE(Holds(dir, tag + container + audio)) << container;
  EXPECT_TRUE(
      Holds(dir, Id3v2(3, "", 20) + std::string(1 << 20, '\0') + audio));
  EXPECT_FALSE(Holds(dir, std::string((1 << 20) + (64 << 10), '\0') + audio));
  EXPECT_TRUE(Holds(dir, Mpeg(1, padded, 601) + Mpeg(2, free, 600)));
  EXPECT_FALSE(Holds(dir, Mpeg(1, free, 601) + Mpeg(2, free, 600)));
  EXPECT_FALSE(Holds(dir, Mpeg(1, free, 600) + Mpeg(2, free, 500)));
}

}  // namespace
}  // namespace tagedit
