#ifndef TAGEDIT_FIELDS_H_
#define TAGEDIT_FIELDS_H_

#include <string>

class ID3_Tag;

namespace tagedit {

// A field the command line can set: its name and how a value reaches the tag.
struct Field {
  const char* name;
  // Throws EditError for a value the field cannot take; null when every value
  // is taken. Called before the file is touched.
  void (*check)(const std::string& value);
  // Sets the field from the value as typed; an empty value removes the field.
  void (*apply)(ID3_Tag& tag, const std::string& value);
};

// The field whose name is exactly `name`, or null.
const Field* FindField(const std::string& name);

// The track number `value` stands for, read as atoi reads it; throws EditError
// unless it is 1 to 255, the numbers the tag can hold.
unsigned char TrackNumber(const std::string& value);

}  // namespace tagedit

#endif  // TAGEDIT_FIELDS_H_
