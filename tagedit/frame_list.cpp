#include "tagedit/frame_list.h"

#include "tagedit/edit_error.h"

namespace tagedit {

namespace {

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
  // Past the end, the first byte read is the string's closing zero.
  for (size_t i = at; i < at + length; ++i) {
    char c = bytes[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
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

size_t FrameHeaderSize(int major) { return major == 2 ? 6 : 10; }

// Whether a frame ending at `next` is followed by another frame, padding or
// the end of the list.
bool LandsOnBoundary(const std::string& list, uint64_t next) {
  // At the end, list[size()] is the string's closing zero.
  return next <= list.size() && (list[next] == 0 || IsFrameId(list, next, 4));
}

uint64_t FrameSize(const std::string& list, size_t at, int major) {
  uint64_t room = list.size() - at - FrameHeaderSize(major);
  uint64_t size = major == 2 ? ReadBigEndian(list, at + 3, 3)
                             : ReadBigEndian(list, at + 4, 4);
  uint64_t syncsafe;
  if (major == 4 && ReadSyncSafe(list, at + 4, &syncsafe) &&
      (syncsafe == size || LandsOnBoundary(list, at + 10 + syncsafe))) {
    size = syncsafe;
  } else if (major == 4 && !LandsOnBoundary(list, at + 10 + size)) {
    // iTunes wrote plain sizes into v2.4 tags; they are taken only where
    // they land on the next frame, padding or the end of the list.
    throw EditError(kCannotRead);
  }
  if (size > room) throw EditError(kCannotRead);
  return size;
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
      !ReadSyncSafe(header, 6, &size)) {
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
  ReadSyncSafe(bytes, 6, &size);
  std::string body = bytes.substr(kV2HeaderSize, size);
  if (tag.major < 4 && (flags & kUnsynchronised) != 0) {
    body = Resynchronise(body);
    flags &= ~kUnsynchronised;
  }
  // v2.2's compression flag was never given a meaning.
  if (tag.major == 2 && (flags & kExtendedHeader) != 0) {
    throw EditError(kCannotRead);
  }
  size_t frames_begin = 0;
  if ((flags & kExtendedHeader) != 0) {
    frames_begin = ReadExtendedHeader(body, tag.major, &tag.extended);
    if (tag.extended.empty()) flags &= ~kExtendedHeader;
  }
  // A footer forbids padding, and padding is what lets the next edits be
  // made in place; a tag at the start of a file has no need of one.
  tag.flags = flags & ~kFooter;
  tag.frames = ParseFrames(body.substr(frames_begin), tag.major);
  return tag;
}

std::vector<V2Frame> ParseFrames(const std::string& list, int major) {
  size_t header = FrameHeaderSize(major);
  size_t id_size = major == 2 ? 3 : 4;
  std::vector<V2Frame> frames;
  size_t at = 0;
  // Frames end inside the list, so `at` stops at its end at the latest, where
  // list[size()] is the string's closing zero.
  while (list[at] != 0) {
    if (list.size() - at < header || !IsFrameId(list, at, id_size)) {
      throw EditError(kCannotRead);
    }
    uint64_t size = FrameSize(list, at, major);
    frames.push_back(
        {list.substr(at, id_size), list.substr(at, header + size)});
    at += header + size;
  }
  return frames;
}

std::string RenderV2Tag(const V2Tag& tag) {
  std::string body = tag.extended;
  for (const V2Frame& frame : tag.frames) body += frame.bytes;
  return std::string("ID3") + static_cast<char>(tag.major) +
         static_cast<char>(tag.revision) + static_cast<char>(tag.flags) +
         SyncSafe(body.size()) + body;
}

bool FrameData(const V2Tag& tag, const V2Frame& frame, std::string* data) {
  if (tag.major == 2) {
    *data = frame.bytes.substr(FrameHeaderSize(2));
    return true;
  }
  unsigned char format = Byte(frame.bytes, 9);
  size_t skip;
  if (tag.major == 3) {
    if ((format & 0xC0) != 0) return false;  // compressed or encrypted
    skip = (format & 0x20) != 0 ? 1 : 0;     // group id
  } else {
    if ((format & 0x0C) != 0) return false;  // compressed or encrypted
    skip = ((format & 0x40) != 0 ? 1 : 0) + ((format & 0x01) != 0 ? 4 : 0);
  }
  if (frame.bytes.size() < 10 + skip) return false;
  *data = frame.bytes.substr(10 + skip);
  if (tag.major == 4 &&
      ((format & 0x02) != 0 || (tag.flags & kUnsynchronised) != 0)) {
    *data = Resynchronise(*data);
  }
  return true;
}

V2Frame MakeFrame(const V2Tag& tag, const std::string& id,
                  const std::string& data) {
  if (tag.major == 2) return {id, id + BigEndian(data.size(), 3) + data};
  if (tag.major == 3) {
    return {id, id + BigEndian(data.size(), 4) + std::string(2, '\0') + data};
  }
  bool unsynchronised = (tag.flags & kUnsynchronised) != 0;
  std::string stored = unsynchronised ? Unsynchronise(data) : data;
  return {id, id + SyncSafe(stored.size()) + '\0' +
                  static_cast<char>(unsynchronised ? 0x02 : 0) + stored};
}

}  // namespace tagedit
