// MPEG audio is told by two frame headers a frame's length apart.
#include "tagedit/mpeg_audio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

// Every bitrate and sample rate of every version and layer, padded or not, at
// the frame length the standard gives; one byte off, no audio is found.
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
            WriteFile(dir / "a",
                      Mpeg(2, header, length) + std::string(off, '\0'));
            int fd = open((dir / "a").c_str(), O_RDONLY);
            EXPECT_EQ(HoldsMpegAudio(fd, 0, 2 * (length + off)), off == 0)
                << header << length;
            close(fd);
          }
}

}  // namespace
}  // namespace tagedit
