#include "tagedit/mpeg_audio.h"

#include <algorithm>
#include <string_view>

#include "tagedit/file_io.h"
#include "tagedit/frame_list.h"

namespace tagedit {

namespace {

using namespace std::string_view_literals;

// Encoders and taggers leave zero bytes or junk in front of the first frame.
constexpr uint64_t kZerosSkipped = uint64_t{1} << 20;
constexpr uint64_t kSearched = 64 * 1024;
// More than the longest frame, so that a frame found reaches its successor.
constexpr uint64_t kLongestFrame = 4096;

struct Signature {
  size_t offset;
  std::string_view bytes;
};

// Files that hold MPEG audio verbatim, or that careless tools put an ID3v2
// tag in front of: two MPEG frames do not make them MP3s.
constexpr Signature kContainers[] = {
    {0, "fLaC"sv},
    {0, "OggS"sv},
    {0, "RIFF"sv},                                              // WAVE, AVI
    {0, "RF64"sv},                                              // 64-bit WAVE
    {0, "BW64"sv},                                              // 64-bit WAVE
    {0, "riff\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\0\0"sv},  // Wave64
    {0, "FORM"sv},                                              // AIFF
    {0, "caff"sv},
    {4, "ftyp"sv},                              // MP4, M4A
    {0, "\x1A\x45\xDF\xA3"sv},                  // Matroska, WebM
    {0, "\x30\x26\xB2\x75\x8E\x66\xCF\x11"sv},  // ASF, WMA
    {0, "FLV\x01"sv},
    {0, "\0\0\x01\xBA"sv},  // MPEG program stream: pack header
    {0, "\0\0\x01\xBB"sv},  // system header
    {0, "\0\0\x01\xB3"sv},  // video sequence header
    {0, "PK\x03\x04"sv},    // zip: local file header
    {0, "PK\x05\x06"sv},    // end record of an empty one
    {257, "ustar"sv},       // tar
    {32769, "CD001"sv},     // ISO 9660
};
// How much of a file the signatures span.
constexpr size_t kSignatureSpan = 32769 + 5;
// An MPEG transport stream: a sync byte at the start of every packet.
constexpr size_t kTsPacket = 188;
constexpr size_t kTsPacketsChecked = 4;

bool IsOtherContainer(const std::string& bytes) {
  for (const Signature& signature : kContainers) {
    if (bytes.size() >= signature.offset + signature.bytes.size() &&
        bytes.compare(signature.offset, signature.bytes.size(),
                      signature.bytes) == 0) {
      return true;
    }
  }
  for (size_t packet = 0; packet < kTsPacketsChecked; ++packet) {
    if (bytes.size() <= packet * kTsPacket ||
        bytes[packet * kTsPacket] != '\x47') {
      return false;
    }
  }
  return true;
}

struct FrameHeader {
  int version;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  int layer;    // 3 layer I, 2 layer II, 1 layer III
  int rate_index;
  uint64_t length;   // 0 in free format, where only the next frame tells
  uint64_t padding;  // what the padding bit adds
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
      frame->layer == 0 || bitrate_index == 15 || frame->rate_index == 3 ||
      (b(3) & 3) == 2) {
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
  frame->padding = ((b(2) >> 1) & 1) * (frame->layer == 3 ? 4 : 1);
  if (bitrate_index == 0) {
    frame->length = 0;
    return true;
  }
  uint64_t bitrate =
      kBitrates[mpeg1 ? 0 : 1][frame->layer - 1][bitrate_index - 1] *
      uint64_t{1000};
  uint64_t rate = kRates[frame->rate_index] / (mpeg1                 ? 1
                                               : frame->version == 2 ? 2
                                                                     : 4);
  if (frame->layer == 3) {
    frame->length = 12 * bitrate / rate * 4 + frame->padding;
  } else {
    uint64_t slots = frame->layer == 1 && !mpeg1 ? 72 : 144;
    frame->length = slots * bitrate / rate + frame->padding;
  }
  return true;
}

// Whether the frame headers at `a` and `b` belong to one stream: alike but
// for the padding, private and mode extension bits, which change from frame
// to frame.
bool SameStream(const std::string& bytes, size_t a, size_t b) {
  static const unsigned char kMask[] = {0xFF, 0xFF, 0xFC, 0xCF};
  if (b + 4 > bytes.size()) return false;
  for (size_t i = 0; i < 4; ++i) {
    if ((bytes[a + i] ^ bytes[b + i]) & kMask[i]) return false;
  }
  return true;
}

// Whether the free-format frame at `at` is followed by a frame of its stream,
// found by search, and by a third one where that distance says.
bool FreeFormatFollows(const std::string& bytes, size_t at,
                       const FrameHeader& first) {
  for (size_t next = at + 4; next < at + kLongestFrame; ++next) {
    FrameHeader second;
    if (!SameStream(bytes, at, next)) continue;
    ReadFrameHeader(bytes, next, &second);
    return SameStream(bytes, at,
                      next + (next - at - first.padding) + second.padding);
  }
  return false;
}

}  // namespace

bool IsMpegFrameHeader(const std::string& bytes) {
  FrameHeader frame;
  return ReadFrameHeader(bytes, 0, &frame);
}

bool HoldsMpegAudio(int fd, uint64_t begin, uint64_t end) {
  std::string bytes;
  uint64_t tag_end = begin;
  if (ReadAt(fd, begin, std::min(end - begin, kV2HeaderSize), &bytes)) {
    begin = std::min(end, begin + V2TagSize(bytes));
  }
  for (uint64_t at : {uint64_t{0}, tag_end, begin}) {
    if (at < end &&
        ReadAt(fd, at, std::min<uint64_t>(end - at, kSignatureSpan), &bytes) &&
        IsOtherContainer(bytes)) {
      return false;
    }
  }
  begin = SkipZeros(fd, begin, std::min(end, begin + kZerosSkipped));
  if (!ReadAt(fd, begin, std::min(end - begin, kSearched + 3 * kLongestFrame),
              &bytes) ||
      bytes.empty()) {
    return false;
  }
  for (size_t at = 0; at < std::min<uint64_t>(bytes.size(), kSearched); ++at) {
    FrameHeader first, second;
    if (!ReadFrameHeader(bytes, at, &first)) continue;
    if (first.length == 0) {
      if (FreeFormatFollows(bytes, at, first)) return true;
      continue;
    }
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
