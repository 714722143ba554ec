#include "tagedit/id3v1.h"

#include <algorithm>
#include <cstdlib>

#include "tagedit/fields.h"
#include "tagedit/file_ops.h"
#include "tagedit/id3lib_child.h"
#include "tagedit/text_encoding.h"

namespace tagedit {

namespace {

struct TextSlot {
  const char* field;
  size_t offset;
  size_t length;
};

constexpr TextSlot kTextSlots[] = {{"title", 3, 30},
                                   {"artist", 33, 30},
                                   {"album", 63, 30},
                                   {"year", 93, 4},
                                   {"comment", 97, 30}};
// ID3v1.1 keeps the track in the comment's last byte, behind a zero byte.
constexpr size_t kTrackMark = 125;
constexpr size_t kTrack = 126;
constexpr size_t kGenre = 127;
constexpr unsigned char kNoGenre = 255;

unsigned char ByteAt(const std::string& v1, size_t at) {
  return static_cast<unsigned char>(v1[at]);
}

bool HasTrack(const std::string& v1) {
  return v1[kTrackMark] == 0 && v1[kTrack] != 0;
}

// The length of a text field in the ID3v1.1 layout: only the comment
// reaches the track.
size_t V11Length(const TextSlot& slot) {
  return std::min(slot.length, kTrackMark - slot.offset);
}

// The bytes of a text field; an ID3v1.1 comment ends where the track begins.
std::string SlotBytes(const std::string& v1, const TextSlot& slot) {
  size_t length = HasTrack(v1) ? V11Length(slot) : slot.length;
  return v1.substr(slot.offset, length);
}

// The text of a field: its bytes up to the first zero, trailing blanks dropped.
std::string SlotText(const std::string& v1, const TextSlot& slot) {
  std::string text = SlotBytes(v1, slot);
  text = text.substr(0, text.find('\0'));
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The ID3v1 genre number of a genre text: "(n)" or "n", else the number of a
// name in id3lib's genre list (any case), else 255, which means none.
unsigned char GenreByte(const std::string& text) {
  // ID3v2.3 refers to a genre as "(n)", and may refine it with text after.
  std::string number = text;
  if (!text.empty() && text.front() == '(') {
    number = text.substr(1, text.find(')') - 1);
  }
  if (!number.empty() && number.size() <= 3 &&
      std::all_of(number.begin(), number.end(),
                  [](char c) { return c >= '0' && c <= '9'; })) {
    // Past 255 there is no genre, as at 255.
    return std::min(std::stoi(number), int{kNoGenre});
  }
  int genre = GenreNumber(text);
  return genre < 0 ? kNoGenre : genre;
}

}  // namespace

uint64_t TornV1Length(uint64_t size, const std::string& tail) {
  // Stopped at a boundary, an append left the tag's first bytes, "TAG" and
  // more: the earliest such start within a tag's length of the end.
  if (size % kTearBoundary == 0) {
    for (size_t length = std::min<size_t>(tail.size(), kV1Size - 1);
         length >= kV1MagicSize; --length) {
      if (tail.compare(tail.size() - length, kV1MagicSize, kV1Magic) == 0) {
        return length;
      }
    }
    return 0;
  }
  // Where one or two bytes were in front of the boundary, the rest landed
  // first: the tag whole but for those, which read zero.
  if (size < kV1Size || tail.size() != kV1Size) return 0;
  uint64_t head = kTearBoundary - (size - kV1Size) % kTearBoundary;
  bool torn = head < kV1MagicSize && tail.find_first_not_of('\0') == head &&
              tail.compare(head, kV1MagicSize - head, kV1Magic + head) == 0;
  return torn ? kV1Size : 0;
}

std::string BuildV1(const V2Tag& tag, const std::vector<const Field*>& set,
                    const std::string& old_v1) {
  // The text of the field named `name` when it comes from the frames.
  auto frame_text = [&](const char* name, std::string* text) {
    const Field* field = FindField(name);
    if (!old_v1.empty() &&
        std::find(set.begin(), set.end(), field) == set.end()) {
      return false;
    }
    std::vector<std::string> values = FieldValues(*field, tag);
    *text = values.empty() ? "" : values[0];
    return true;
  };
  std::string v1 = kV1Magic + std::string(kV1Size - kV1MagicSize, '\0');
  std::string text;
  for (const TextSlot& slot : kTextSlots) {
    std::string bytes = frame_text(slot.field, &text)
                            ? Latin1Approximation(text)
                            : SlotBytes(old_v1, slot);
    // Always the v1.1 layout: readers take the last bytes of a longer comment
    // for a track number.
    v1.replace(slot.offset, std::min(bytes.size(), V11Length(slot)), bytes, 0,
               V11Length(slot));
  }
  int track = 0;
  if (frame_text("tracknum", &text)) {
    track = std::atoi(text.c_str());
    if (track < 1 || track > 255) track = 0;
  } else if (HasTrack(old_v1)) {  // only a file with an ID3v1 tag gets here
    track = ByteAt(old_v1, kTrack);
  }
  v1[kTrack] = static_cast<char>(track);
  v1[kGenre] = static_cast<char>(frame_text("genre", &text) ? GenreByte(text)
                                                            : old_v1[kGenre]);
  return v1;
}

std::vector<FieldEdit> V1Edits(const std::string& v1) {
  std::vector<FieldEdit> edits;
  for (const TextSlot& slot : kTextSlots) {
    std::string text = SlotText(v1, slot);
    if (!text.empty()) {
      edits.push_back({FindField(slot.field), Latin1ToUtf8(text)});
    }
  }
  if (HasTrack(v1)) {
    edits.push_back(
        {FindField("tracknum"), std::to_string(ByteAt(v1, kTrack))});
  }
  if (ByteAt(v1, kGenre) != kNoGenre) {
    edits.push_back(
        {FindField("genre"), "(" + std::to_string(ByteAt(v1, kGenre)) + ")"});
  }
  return edits;
}

}  // namespace tagedit
