#include "tagedit/fields.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <vector>

#include "tagedit/edit_error.h"
#include "tagedit/text_encoding.h"

namespace tagedit {

namespace {

// A comment's description follows its encoding byte and language.
constexpr size_t kDescription = 4;
// The text encoding byte of UTF-16 with a byte-order mark.
constexpr char kUtf16 = 1;
// Enough of a comment to tell its description apart from the longest one
// that matters, "ID3v1 Comment" in UTF-16 with its byte-order mark and
// terminator: what is read of a compressed comment before its text.
constexpr size_t kDescriptionRead =
    kDescription + 2 + 2 * sizeof("ID3v1 Comment");

void CheckTrack(const std::string& value) {
  if (!value.empty()) TrackNumber(value);
}

const Field kFields[] = {
    {"tracknum", {"TRK", "TRCK", "TRCK"}, false, CheckTrack},
    {"artist", {"TP1", "TPE1", "TPE1"}},
    {"album", {"TAL", "TALB", "TALB"}},
    {"title", {"TT2", "TIT2", "TIT2"}},
    {"year",
     {"TYE", "TYER", "TDRC"},
     false,
     nullptr,
     {"TDA", "TIM", "TDAT", "TIME"}},
    {"comment", {"COM", "COMM", "COMM"}, true},
    {"genre", {"TCO", "TCON", "TCON"}},
};

// The strings of a frame holding `field`, after its encoding byte (and a
// comment's language), from its first `wanted` bytes; false when it cannot be
// read.
bool FieldStrings(const Field& field, const V2Tag& tag, const V2Frame& frame,
                  std::vector<std::string>* strings,
                  size_t wanted = std::string::npos) {
  std::string data;
  size_t text_begin = field.only_undescribed ? kDescription : 1;
  if (!FrameData(tag, frame, &data, wanted) || data.size() < text_begin) {
    return false;
  }
  *strings = DecodeFrameStrings(data[0], data.substr(text_begin));
  return true;
}

}  // namespace

std::vector<const Field*> AllFields() {
  std::vector<const Field*> fields;
  for (const Field& field : kFields) fields.push_back(&field);
  return fields;
}

const Field* FindField(const std::string& name) {
  for (const Field& field : kFields) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

const Field* FieldOfFrame(std::string_view id) {
  for (const Field& field : kFields) {
    if (id == field.ids[1]) return &field;
  }
  return nullptr;
}

bool HoldsField(const Field& field, const V2Tag& tag, const V2Frame& frame) {
  int version = tag.major - 2;
  std::string_view id = tag.Id(frame);
  // Sloppy taggers put the v2.3 year frame into v2.4 tags and the v2.4 one
  // into v2.3 tags; both go, or the old year would outlive the new one.
  if (id != field.ids[version] &&
      (version == 0 || id != field.ids[3 - version])) {
    return false;
  }
  if (!field.only_undescribed) return true;
  // id3lib, merging an ID3v1 tag, described its comment "ID3v1 Comment".
  std::vector<std::string> strings;
  return FieldStrings(field, tag, frame, &strings, kDescriptionRead) &&
         (strings.empty() || strings[0].empty() ||
          strings[0] == "ID3v1 Comment");
}

bool ReplacesFrame(const Field& field, const V2Tag& tag, const V2Frame& frame) {
  return HoldsField(field, tag, frame) ||
         std::any_of(std::begin(field.joined), std::end(field.joined),
                     [&](const char* id) { return id && tag.Id(frame) == id; });
}

std::string RenderedData(const Field& field, std::string data) {
  // FFmpeg rejects a UTF-16 string without a byte-order mark, and with it the
  // whole comment.
  if (field.only_undescribed && data[0] == kUtf16 &&
      data.compare(kDescription, 2, "\0\0", 2) == 0) {
    data.insert(kDescription, "\xFF\xFE");
  }
  return data;
}

std::vector<std::string> FieldValues(const Field& field, const V2Tag& tag) {
  // A comment's language and description come before its text.
  size_t skipped = field.only_undescribed ? 1 : 0;
  for (const V2Frame& frame : tag.frames) {
    std::vector<std::string> strings;
    if (HoldsField(field, tag, frame) &&
        FieldStrings(field, tag, frame, &strings) && strings.size() > skipped) {
      return {strings.begin() + skipped, strings.end()};
    }
  }
  return {};
}

std::pair<unsigned char, unsigned char> TrackNumber(const std::string& value) {
  const char* p = value.c_str();
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  long number = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)) && number <= 255; ++p) {
    number = number * 10 + (*p - '0');
  }
  if (negative || number < 1 || number > 255) {
    throw EditError(kInvalidTrack);
  }
  long total = 0;
  std::string rest = *p == '/' ? std::string(p + 1) : "";
  if (!rest.empty() && rest.size() <= 3 &&
      std::all_of(rest.begin(), rest.end(),
                  [](unsigned char c) { return std::isdigit(c); })) {
    total = std::stol(rest);
  }
  return {static_cast<unsigned char>(number),
          static_cast<unsigned char>(total > 255 ? 0 : total)};
}

}  // namespace tagedit
