#include "tagedit/tag_list.h"

#include <map>
#include <vector>

#include "tagedit/fields.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"
#include "tagedit/tag_file.h"

namespace tagedit {

namespace {

// A value on one line, so that a script reading the listing line by line
// sees each field whole.
std::string OneLine(const std::string& value) {
  std::string line;
  for (char c : value)
    line += c == '\n' ? std::string("\\n") : std::string(1, c);
  return line;
}

}  // namespace

std::string ListFields(const std::string& name) {
  TagFile file = ReadTagFile(name);
  std::map<const Field*, std::string> values;
  if (!file.v2_tag.empty()) {
    V2Tag tag = ParseV2Tag(file.v2_tag);
    for (const Field* field : AllFields()) {
      std::vector<std::string> strings = FieldValues(*field, tag);
      if (strings.empty()) continue;
      // A v2.4 text frame may hold several values.
      std::string joined = strings[0];
      for (size_t i = 1; i < strings.size(); ++i) joined += " / " + strings[i];
      values[field] = joined;
    }
  } else if (!file.v1_tag.empty()) {
    for (const FieldEdit& edit : V1Edits(file.v1_tag)) {
      values[edit.field] = edit.value;
    }
  }
  std::string listing;
  for (const Field* field : AllFields()) {
    auto value = values.find(field);
    if (value != values.end()) {
      listing +=
          std::string(field->name) + ": " + OneLine(value->second) + "\n";
    }
  }
  return listing;
}

}  // namespace tagedit
