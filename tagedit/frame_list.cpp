#include "tagedit/frame_list.h"

#include <zlib.h>

#include <algorithm>

#include "tagedit/edit_error.h"
#include "tagedit/file_io.h"

namespace tagedit {

namespace {

// Frame format flags, the second flag byte of a v2.3 or v2.4 frame header.
constexpr unsigned char kV3Compressed = 0x80;
constexpr unsigned char kV3Encrypted = 0x40;
constexpr unsigned char kV3Grouped = 0x20;
constexpr unsigned char kV4Grouped = 0x40;
constexpr unsigned char kV4Compressed = 0x08;
constexpr unsigned char kV4Encrypted = 0x04;
constexpr unsigned char kV4Unsynchronised = 0x02;
constexpr unsigned char kV4DataLength = 0x01;
// More than all the text a tag sensibly holds compressed: what its frames
// may inflate to in all, over every pass, before the rest is left unread.
constexpr uint64_t kInflateBudget = uint64_t{1} << 20;

unsigned char Byte(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

uint64_t ReadBigEndian(const std::string& bytes, size_t at, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | Byte(bytes, at + i);
  return value;
}

std::string BigEndian(uint64_t value, int count) {
  std::string bytes;
  for (int shift = 8 * (count - 1); shift >= 0; shift -= 8) {
    bytes += static_cast<char>(value >> shift);
  }
  return bytes;
}

// The syncsafe integer at `at`; false when a byte has its high bit set.
bool ReadSyncSafe(const std::string& bytes, size_t at, uint64_t* value) {
  *value = 0;
  for (int i = 0; i < 4; ++i) {
    if (Byte(bytes, at + i) >= 0x80) return false;
    *value = (*value << 7) | Byte(bytes, at + i);
  }
  return true;
}

bool IsFrameId(const std::string& bytes, size_t at, size_t length) {
  // Past the end, the first byte read is the string's closing zero. Old
  // taggers padded v2.2 ids with a blank into v2.3 tags ("TYE ").
  for (size_t i = at; i < at + length; ++i) {
    char c = bytes[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
          (c == ' ' && i > at))) {
      return false;
    }
  }
  return true;
}

bool IsPadding(const std::string& list, size_t at) {
  return list.find_first_not_of(kPaddingBytes, at) == std::string::npos;
}

// Inflates the zlib stream `data` in place, up to `wanted` bytes; false when
// it is broken or would take more than `*budget` bytes, which it spends.
bool Inflate(std::string* data, size_t wanted, uint64_t* budget) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(data->data());
  stream.avail_in = data->size();
  std::string out;
  uint64_t limit = std::min<uint64_t>(wanted, *budget);
  int status = Z_OK;
  while (status == Z_OK && out.size() < limit) {
    size_t done = out.size(), step = std::min<uint64_t>(kChunk, limit - done);
    out.resize(done + step);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + done);
    stream.avail_out = step;
    status = inflate(&stream, Z_NO_FLUSH);
    out.resize(done + step - stream.avail_out);
  }
  inflateEnd(&stream);
  *budget -= out.size();
  if (status != Z_STREAM_END && out.size() < wanted) return false;
  *data = std::move(out);
  return true;
}

std::string Resynchronise(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    // bytes[size()] is the string's closing zero: a last 0xFF drops nothing.
    if (Byte(bytes, i) == 0xFF && bytes[i + 1] == 0) ++i;
  }
  return out;
}

std::string Unsynchronise(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    if (Byte(bytes, i) == 0xFF &&
        (i + 1 == bytes.size() || Byte(bytes, i + 1) >= 0xE0 ||
         bytes[i + 1] == 0)) {
      out += '\0';
    }
  }
  return out;
}

size_t FrameHeaderSize(int major) {
  return major == 2 ? kV22FrameHeaderSize : kFrameHeaderSize;
}

size_t FrameIdSize(int major) { return major == 2 ? 3 : 4; }

// Splits `list` from `at` on into frames, reading every frame size as
// syncsafe or every
// one as plain, and `stray` gets what follows them that is not padding;
// false unless they end where the list, its padding or a v2.2 or v2.3 zero
// where an id would start does.
bool WalkFrames(const std::string& list, size_t at, int major, bool syncsafe,
                std::vector<V2Frame>* frames, std::string* stray) {
  size_t header = FrameHeaderSize(major), id_size = FrameIdSize(major);
  frames->clear();
  stray->clear();
  while (at < list.size() && !IsPadding(list, at)) {
    // Before v2.4, a zero where an id would start ends the frames for some
    // readers, while mutagen and FFmpeg find frames behind it (after a block
    // that looks like an unflagged extended header): kept as it is.
    if (major < 4 && list[at] == 0) {
      *stray = list.substr(at, list.find_last_not_of('\0') + 1 - at);
      break;
    }
    uint64_t size;
    if (list.size() - at < header || !IsFrameId(list, at, id_size)) {
      return false;
    }
    // The size field is as long as the id.
    if (!syncsafe) {
      size = ReadBigEndian(list, at + id_size, id_size);
    } else if (!ReadSyncSafe(list, at + id_size, &size)) {
      return false;
    }
    if (size > list.size() - at - header) return false;
    frames->push_back(
        {static_cast<uint32_t>(at), static_cast<uint32_t>(header + size)});
    at += header + size;
  }
  return true;
}

// Skips the extended header at the start of `body`; `kept` gets what of it
// is written back. Its CRC covers the frames, which the edit changes, so it
// is dropped; v2.3's holds nothing else but the padding size, which an edit
// changes too.
size_t ReadExtendedHeader(const std::string& body, int major,
                          std::string* kept) {
  uint64_t size;
  if (body.size() < 6) throw EditError(kCannotRead);
  if (major == 3) {
    size = 4 + ReadBigEndian(body, 0, 4);
    if (size > body.size()) throw EditError(kCannotRead);
    return size;
  }
  if (!ReadSyncSafe(body, 0, &size) || size < 6 || size > body.size() ||
      body[4] != 1) {
    throw EditError(kCannotRead);
  }
  std::string items;
  unsigned char kept_flags = 0;
  size_t at = 6;
  for (unsigned char flag : {0x40, 0x20, 0x10}) {
    if ((Byte(body, 5) & flag) == 0) continue;
    if (at >= size || at + 1 + Byte(body, at) > size) {
      throw EditError(kCannotRead);
    }
    size_t length = 1 + Byte(body, at);
    if (flag != 0x20) {
      items += body.substr(at, length);
      kept_flags |= flag;
    }
    at += length;
  }
  if (kept_flags != 0) {
    *kept = SyncSafe(6 + items.size()) + '\x01' +
            static_cast<char>(kept_flags) + items;
  }
  return size;
}

// Splits the frame list in `tag->storage`, from `begin` on, into the tag's
// frames, and learns how its sizes are written; throws EditError when it
// cannot be walked to its end.
void SplitFrames(size_t begin, V2Tag* tag) {
  // iTunes wrote plain sizes into v2.4 tags. Read frame by frame, a plain
  // size taken as syncsafe can land on a zero inside a frame and drop the
  // rest; so the tag has one rule, the one that walks it whole.
  const std::string& list = tag->storage;
  bool v4 = tag->major == 4;
  tag->plain_sizes = false;
  if (WalkFrames(list, begin, tag->major, v4, &tag->frames, &tag->stray)) {
    return;
  }
  if (!v4 || !WalkFrames(list, begin, 4, false, &tag->frames, &tag->stray)) {
    throw EditError(kCannotRead);
  }
  tag->plain_sizes = true;
}

}  // namespace

std::string SyncSafe(uint64_t value) {
  std::string bytes;
  for (int shift = 21; shift >= 0; shift -= 7) {
    bytes += static_cast<char>((value >> shift) & 0x7F);
  }
  return bytes;
}

uint64_t V2TagSize(const std::string& header) {
  uint64_t size;
  if (header.size() < kV2HeaderSize || header.compare(0, 3, "ID3") != 0 ||
      Byte(header, 3) == 0xFF || Byte(header, 4) == 0xFF ||
      !ReadSyncSafe(header, kV2SizeAt, &size)) {
    return 0;
  }
  return kV2HeaderSize + size;
}

V2Tag ParseV2Tag(const std::string& bytes) {
  V2Tag tag;
  tag.major = Byte(bytes, 3);
  tag.revision = Byte(bytes, 4);
  unsigned char flags = Byte(bytes, 5);
  if (tag.major < 2 || tag.major > 4) throw EditError(kUnsupportedVersion);
  uint64_t size;
  ReadSyncSafe(bytes, kV2SizeAt, &size);
  std::string body = bytes.substr(kV2HeaderSize, size);
  if (tag.major < 4 && (flags & kUnsynchronised) != 0) {
    body = Resynchronise(body);
    flags &= ~kUnsynchronised;
  }
  // v2.2's compression flag was never given a meaning.
  if (tag.major == 2 && (flags & kExtendedHeader) != 0) {
    throw EditError(kCannotRead);
  }
  // Some taggers flag an extended header and put none there: a frame follows
  // the header directly.
  if ((flags & kExtendedHeader) != 0 &&
      IsFrameId(body, 0, FrameIdSize(tag.major))) {
    flags &= ~kExtendedHeader;
  }
  size_t frames_begin = 0;
  if ((flags & kExtendedHeader) != 0) {
    frames_begin = ReadExtendedHeader(body, tag.major, &tag.extended);
    if (tag.extended.empty()) flags &= ~kExtendedHeader;
  }
  // A footer forbids padding, and padding is what lets the next edits be
  // made in place; a tag at the start of a file has no need of one.
  tag.flags = flags & ~kFooter;
  tag.storage = std::move(body);
  SplitFrames(frames_begin, &tag);
  return tag;
}

void ParseFrames(std::string list, V2Tag* tag) {
  tag->storage = std::move(list);
  SplitFrames(0, tag);
}

std::string RenderV2Tag(const V2Tag& tag) {
  size_t size = tag.extended.size() + tag.stray.size();
  for (const V2Frame& frame : tag.frames) size += frame.size;
  std::string bytes;
  bytes.reserve(kV2HeaderSize + size);
  bytes = std::string("ID3") + static_cast<char>(tag.major) +
          static_cast<char>(tag.revision) + static_cast<char>(tag.flags) +
          SyncSafe(size) + tag.extended;
  for (const V2Frame& frame : tag.frames) bytes += tag.Bytes(frame);
  return bytes += tag.stray;
}

bool FrameData(const V2Tag& tag, const V2Frame& frame, std::string* data,
               size_t wanted) {
  std::string_view bytes = tag.Bytes(frame);
  if (tag.major == 2) {
    *data = bytes.substr(FrameHeaderSize(2), wanted);
    return true;
  }
  unsigned char format = bytes[9];
  auto has = [&](unsigned char flag) { return (format & flag) != 0; };
  bool compressed, encrypted;
  size_t skip;  // the bytes the flags add in front of the data
  if (tag.major == 3) {
    compressed = has(kV3Compressed);
    encrypted = has(kV3Encrypted);
    skip = 4 * compressed + encrypted + has(kV3Grouped);
  } else {
    compressed = has(kV4Compressed);
    encrypted = has(kV4Encrypted);
    skip = has(kV4Grouped) + encrypted + 4 * has(kV4DataLength);
  }
  size_t begin = FrameHeaderSize(tag.major) + skip;
  if (encrypted || bytes.size() < begin) return false;
  *data = bytes.substr(begin);
  if (tag.major == 4 &&
      (has(kV4Unsynchronised) || (tag.flags & kUnsynchronised) != 0)) {
    *data = Resynchronise(*data);
  }
  uint64_t budget = kInflateBudget - tag.inflated;
  bool read = !compressed || Inflate(data, wanted, &budget);
  tag.inflated = kInflateBudget - budget;
  if (data->size() > wanted) data->resize(wanted);
  return read;
}

V2Frame MakeFrame(V2Tag* tag, const std::string& id, const std::string& data) {
  std::string& made = tag->made;
  V2Frame frame{static_cast<uint32_t>(made.size()), 0, true};
  if (tag->major == 2) {
    made += id + BigEndian(data.size(), 3) + data;
  } else if (tag->major == 3) {
    made += id + BigEndian(data.size(), 4) + std::string(2, '\0') + data;
  } else {
    bool unsynchronised = (tag->flags & kUnsynchronised) != 0;
    std::string stored = unsynchronised ? Unsynchronise(data) : data;
    std::string size = tag->plain_sizes ? BigEndian(stored.size(), 4)
                                        : SyncSafe(stored.size());
    made += id + size + '\0' +
            static_cast<char>(unsynchronised ? kV4Unsynchronised : 0) + stored;
  }
  frame.size = made.size() - frame.at;
  return frame;
}

}  // namespace tagedit
