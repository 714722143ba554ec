#include "tagedit/mpeg_audio.h"

#include <algorithm>
#include <string>

#include "tagedit/frame_list.h"
#include "tagedit/tag_file.h"

namespace tagedit {

namespace {

// Encoders and taggers leave zero bytes or junk in front of the first frame.
constexpr uint64_t kSearched = 64 * 1024;
// More than the longest frame, so that a frame found reaches its successor.
constexpr uint64_t kLongestFrame = 4096;

struct FrameHeader {
  int version;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  int layer;    // 3 layer I, 2 layer II, 1 layer III
  int rate_index;
  uint64_t length;
};

// The MPEG audio frame header at `at`; false when the bytes are none.
bool ReadFrameHeader(const std::string& bytes, size_t at, FrameHeader* frame) {
  if (at + 4 > bytes.size()) return false;
  auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
  frame->version = (b(1) >> 3) & 3;
  frame->layer = (b(1) >> 1) & 3;
  int bitrate_index = b(2) >> 4;
  frame->rate_index = (b(2) >> 2) & 3;
  if (b(0) != 0xFF || (b(1) & 0xE0) != 0xE0 || frame->version == 1 ||
      frame->layer == 0 || bitrate_index == 0 || bitrate_index == 15 ||
      frame->rate_index == 3 || (b(3) & 3) == 2) {
    return false;
  }
  // kbit/s by bitrate index 1 to 14.
  static const int kBitrates[][3][14] = {
      // MPEG-1: layer III, II, I
      {{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
       {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},
      // MPEG-2 and 2.5: layer III, II, I
      {{8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}}};
  // MPEG-1's sample rates; MPEG-2 has half of each, MPEG-2.5 a quarter.
  static const int kRates[] = {44100, 48000, 32000};
  bool mpeg1 = frame->version == 3;
  uint64_t bitrate =
      kBitrates[mpeg1 ? 0 : 1][frame->layer - 1][bitrate_index - 1] *
      uint64_t{1000};
  uint64_t rate = kRates[frame->rate_index] / (mpeg1                 ? 1
                                               : frame->version == 2 ? 2
                                                                     : 4);
  uint64_t padding = (b(2) >> 1) & 1;
  if (frame->layer == 3) {
    frame->length = (12 * bitrate / rate + padding) * 4;
  } else {
    uint64_t slots = frame->layer == 1 && !mpeg1 ? 72 : 144;
    frame->length = slots * bitrate / rate + padding;
  }
  return true;
}

// Containers that careless tools prepend an ID3v2 tag to, and whose payload
// may itself be MPEG audio.
bool IsOtherContainer(const std::string& bytes) {
  for (const char* magic : {"fLaC", "OggS", "RIFF", "FORM"}) {
    if (bytes.compare(0, 4, magic) == 0) return true;
  }
  return bytes.size() >= 8 && bytes.compare(4, 4, "ftyp") == 0;
}

}  // namespace

bool HoldsMpegAudio(int fd, uint64_t begin, uint64_t end) {
  std::string bytes;
  if (ReadAt(fd, begin, std::min(end - begin, kV2HeaderSize), &bytes)) {
    begin = std::min(end, begin + V2TagSize(bytes));
  }
  if (!ReadAt(fd, begin, std::min(end - begin, kSearched + kLongestFrame),
              &bytes) ||
      bytes.empty() || IsOtherContainer(bytes)) {
    return false;
  }
  for (size_t at = 0; at < std::min<uint64_t>(bytes.size(), kSearched); ++at) {
    FrameHeader first{}, second{};
    if (!ReadFrameHeader(bytes, at, &first)) continue;
    uint64_t next = at + first.length;
    if (begin + next == end) return true;
    if (ReadFrameHeader(bytes, next, &second) &&
        second.version == first.version && second.layer == first.layer &&
        second.rate_index == first.rate_index) {
      return true;
    }
  }
  return false;
}

}  // namespace tagedit
