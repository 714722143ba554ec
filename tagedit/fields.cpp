#include "tagedit/fields.h"

#include <id3/misc_support.h>
#include <id3/tag.h>

#include <cctype>
#include <vector>

#include "tagedit/edit_error.h"
#include "tagedit/text_encoding.h"

namespace tagedit {

namespace {

using TextHelper = ID3_Frame* (*)(ID3_Tag*, const char*, bool);
using RemoveHelper = size_t (*)(ID3_Tag*);

// id3lib writes the little-endian byte-order mark but then each code unit high
// byte first, so the units are handed over swapped to land as the mark says.
std::vector<unicode_t> SwappedUnits(const std::u16string& units) {
  std::vector<unicode_t> swapped;
  for (char16_t unit : units) {
    swapped.push_back(static_cast<unicode_t>((unit >> 8) | (unit << 8)));
  }
  swapped.push_back(0);
  return swapped;
}

void StoreUtf16(ID3_Frame* frame, const std::u16string& units) {
  frame->GetField(ID3FN_TEXTENC)->Set(ID3TE_UTF16);
  // A comment's description is read in the frame's encoding too.
  if (ID3_Field* description = frame->GetField(ID3FN_DESCRIPTION)) {
    description->SetEncoding(ID3TE_UTF16);
  }
  ID3_Field* text = frame->GetField(ID3FN_TEXT);
  text->SetEncoding(ID3TE_UTF16);
  text->Set(SwappedUnits(units).data());
}

template <TextHelper add, RemoveHelper remove>
void ApplyText(ID3_Tag& tag, const std::string& value) {
  // The helpers ignore an empty text, which would leave the old value behind.
  if (value.empty()) {
    remove(&tag);
    return;
  }
  FrameText text = EncodeFrameText(value);
  // A stand-in text makes the helper create the frame a UTF-16 value goes in.
  ID3_Frame* frame = add(&tag, text.utf16 ? "?" : text.latin1.c_str(), true);
  if (text.utf16) StoreUtf16(frame, text.units);
}

// The library's replace also drops band, conductor and composer, which belong
// to other fields; they are set aside and put back.
void ApplyArtist(ID3_Tag& tag, const std::string& value) {
  std::vector<ID3_Frame*> kept;
  for (ID3_FrameID id : {ID3FID_BAND, ID3FID_CONDUCTOR, ID3FID_COMPOSER}) {
    while (ID3_Frame* frame = tag.Find(id)) {
      kept.push_back(tag.RemoveFrame(frame));
    }
  }
  ApplyText<ID3_AddArtist, ID3_RemoveArtists>(tag, value);
  for (ID3_Frame* frame : kept) tag.AttachFrame(frame);
}

size_t RemoveComment(ID3_Tag* tag) { return ID3_RemoveComments(tag, ""); }

// Once a file has an ID3v1 tag, the library keeps its comment in a frame of
// its own and renders the next ID3v1 tag from it; it has to go with the old
// comment or a new one never reaches the ID3v1 tag.
void ApplyComment(ID3_Tag& tag, const std::string& value) {
  ID3_RemoveComments(&tag, "ID3v1 Comment");
  ApplyText<ID3_AddComment, RemoveComment>(tag, value);
}

void CheckTrack(const std::string& value) {
  if (!value.empty()) TrackNumber(value);
}

void ApplyTrack(ID3_Tag& tag, const std::string& value) {
  if (value.empty()) {
    ID3_RemoveTracks(&tag);
    return;
  }
  ID3_AddTrack(&tag, TrackNumber(value), 0, true);
}

const Field kFields[] = {
    {"tracknum", CheckTrack, ApplyTrack},
    {"artist", nullptr, ApplyArtist},
    {"album", nullptr, ApplyText<ID3_AddAlbum, ID3_RemoveAlbums>},
    {"title", nullptr, ApplyText<ID3_AddTitle, ID3_RemoveTitles>},
    {"year", nullptr, ApplyText<ID3_AddYear, ID3_RemoveYears>},
    {"comment", nullptr, ApplyComment},
    {"genre", nullptr, ApplyText<ID3_AddGenre, ID3_RemoveGenres>},
};

}  // namespace

const Field* FindField(const std::string& name) {
  for (const Field& field : kFields) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

unsigned char TrackNumber(const std::string& value) {
  const char* p = value.c_str();
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  long number = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)) && number <= 255; ++p) {
    number = number * 10 + (*p - '0');
  }
  if (negative || number < 1 || number > 255) {
    throw EditError("Incorrect argument usage. Invalid track number.");
  }
  return static_cast<unsigned char>(number);
}

}  // namespace tagedit
