#ifndef TAGEDIT_FRAME_LIST_H_
#define TAGEDIT_FRAME_LIST_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tagedit {

// The ID3v2 header, and the v2.4 footer, which has the same size.
inline constexpr uint64_t kV2HeaderSize = 10;
// Where the header holds the tag's size: four syncsafe bytes.
inline constexpr size_t kV2SizeAt = 6;
// A frame header: an id, a size as long as the id (syncsafe in v2.4), and
// from v2.3 on two flag bytes.
inline constexpr size_t kV22FrameHeaderSize = 6;
inline constexpr size_t kFrameHeaderSize = 10;
// What the header's 28-bit syncsafe size can count, and no more.
inline constexpr uint64_t kV2SizeLimit = uint64_t{1} << 28;

// Zeros, and the blanks and 0xFF bytes some taggers pad with instead.
inline constexpr std::string_view kPaddingBytes("\0 \xFF", 3);

// Tag header flags.
inline constexpr unsigned char kUnsynchronised = 0x80;
inline constexpr unsigned char kExtendedHeader = 0x40;  // v2.2: compressed
inline constexpr unsigned char kFooter = 0x10;

// One frame of an ID3v2 tag: where its bytes, header and data exactly as
// stored (after the tag-wide unsynchronisation of v2.2 and v2.3 is undone),
// lie in its tag. So a tag of many small frames takes little more memory
// than its size.
struct V2Frame {
  uint32_t at = 0;
  uint32_t size = 0;
  bool made = false;  // in the tag's `made`, else in its `storage`
};

// An ID3v2 tag as an edit writes it back: the frames it keeps, in order, and
// what has to come in front of them.
struct V2Tag {
  int major = 3;
  int revision = 0;
  unsigned char flags = 0;  // as written: no unsynchronisation before v2.4
  std::string extended;     // the extended header written back, or empty
  std::vector<V2Frame> frames;
  // What follows a zero where a v2.2 or v2.3 frame id would start when it is
  // not all padding, trailing zeros left off: kept as it is, behind the frames.
  std::string stray = "";
  bool plain_sizes = false;  // v2.4 frame sizes not syncsafe, as iTunes wrote
  // What FrameData has inflated of the tag's compressed frames so far: the
  // whole tag has one budget, however many frames and passes.
  mutable uint64_t inflated = 0;
  std::string storage = "";  // the bytes of the frames read
  // Those of the frames made for the tag since, apart, so that the larger
  // never grows.
  std::string made = "";

  std::string_view Bytes(const V2Frame& frame) const {
    return std::string_view(frame.made ? made : storage)
        .substr(frame.at, frame.size);
  }
  std::string_view Id(const V2Frame& frame) const {
    return Bytes(frame).substr(0, major == 2 ? 3 : 4);
  }
};

// The size an ID3v2 header announces for the tag, header included and a v2.4
// footer not, or 0 when `header` (10 bytes) is not an ID3v2 header.
uint64_t V2TagSize(const std::string& header);

// Reads the tag `bytes` (header to the end of padding or footer); throws
// EditError for a version other than 2.2 to 2.4 or a frame list that cannot
// be walked.
V2Tag ParseV2Tag(const std::string& bytes);

// Splits `bytes`, a frame list of `tag`'s version, into `tag`'s frames up to
// its padding or stray bytes, and learns how its sizes are written; throws
// EditError when the list cannot be walked to its end.
void ParseFrames(std::string bytes, V2Tag* tag);

// The header, extended header, frames and stray bytes of `tag`, without
// padding.
std::string RenderV2Tag(const V2Tag& tag);

// The data of `frame` as a reader sees it, behind the bytes its flags add and
// with unsynchronisation undone, cut after `wanted` bytes; false when it is
// encrypted, or compressed and broken or past what is left of the tag's
// budget for inflating.
bool FrameData(const V2Tag& tag, const V2Frame& frame, std::string* data,
               size_t wanted = std::string::npos);

// A frame of `tag`'s version holding `data`, its size written as the tag's
// are, unsynchronised where the tag says every frame is; its bytes are kept
// in the tag.
V2Frame MakeFrame(V2Tag* tag, const std::string& id, const std::string& data);

// `value` as the four 7-bit bytes of a syncsafe integer.
std::string SyncSafe(uint64_t value);

}  // namespace tagedit

#endif  // TAGEDIT_FRAME_LIST_H_
