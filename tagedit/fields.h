#ifndef TAGEDIT_FIELDS_H_
#define TAGEDIT_FIELDS_H_

#include <string>
#include <string_view>
#include <vector>

#include "tagedit/frame_list.h"

namespace tagedit {

// A field the command line can set: its name and its frames.
struct Field {
  const char* name;
  const char* ids[3];  // its frame in ID3v2.2, v2.3 and v2.4
  // Held only by those of its frames that have no description (a comment).
  bool only_undescribed = false;
  // Throws EditError for a value the field cannot take; null when every value
  // is taken. Called before the file is touched.
  void (*check)(const std::string& value) = nullptr;
  // Frames that readers join to its value into one date (ID3v2.2 and v2.3
  // ids): setting the field drops them too, or a new year would get an old day.
  const char* joined[4] = {};
};

// Every field, in the table's order.
std::vector<const Field*> AllFields();

// The field whose name is exactly `name`, or null.
const Field* FindField(const std::string& name);

// The field id3lib stores in the ID3v2.3 frame `id`, or null.
const Field* FieldOfFrame(std::string_view id);

// Whether `frame` of `tag` holds `field`, so that setting the field replaces
// it.
bool HoldsField(const Field& field, const V2Tag& tag, const V2Frame& frame);

// Whether setting `field` drops `frame` of `tag`: the frames holding it and
// those joined to it.
bool ReplacesFrame(const Field& field, const V2Tag& tag, const V2Frame& frame);

// The frame data id3lib rendered for `field`, `data`, with the byte-order mark
// it leaves off an empty UTF-16 description put in.
std::string RenderedData(const Field& field, std::string data);

// The values of the first frame of `tag` holding `field` that can be read, in
// UTF-8 (a comment's text only); none when there is no such frame.
std::vector<std::string> FieldValues(const Field& field, const V2Tag& tag);

// The track number and total `value` stands for: the number read as atoi
// reads it, the total from a "/M" right after it; throws EditError unless the
// number is 1 to 255, the numbers the tag can hold. The total is 0 unless it
// is 1 to 255.
std::pair<unsigned char, unsigned char> TrackNumber(const std::string& value);

}  // namespace tagedit

#endif  // TAGEDIT_FIELDS_H_
