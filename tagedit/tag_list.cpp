#include "tagedit/tag_list.h"

#include <map>
#include <vector>

#include "tagedit/fields.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"
#include "tagedit/tag_file.h"

namespace tagedit {

std::string Escaped(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string line;
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        line += "\\\\";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\t':
        line += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          line += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
        } else {
          line += static_cast<char>(c);
        }
    }
  }
  return line;
}

std::vector<FieldEdit> ReadFields(const std::string& name) {
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
  std::vector<FieldEdit> fields;
  for (const Field* field : AllFields()) {
    auto value = values.find(field);
    if (value != values.end()) fields.push_back({field, value->second});
  }
  return fields;
}

std::string ListFields(const std::string& name) {
  std::string listing;
  for (const FieldEdit& edit : ReadFields(name)) {
    listing +=
        std::string(edit.field->name) + ": " + Escaped(edit.value) + "\n";
  }
  return listing;
}

}  // namespace tagedit
