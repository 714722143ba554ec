#ifndef TAGEDIT_TAG_LIST_H_
#define TAGEDIT_TAG_LIST_H_

#include <string>
#include <vector>

#include "tagedit/command.h"

namespace tagedit {

// The fields the file `name` holds, in the field table's order, each with its
// value decoded to UTF-8 (where a frame claims UTF-8 and is not, its bytes
// stay as they are): from its ID3v2 tag, or from its ID3v1 tag when it has no
// other. Reads the file and nothing else; throws EditError when it cannot be
// read.
std::vector<FieldEdit> ReadFields(const std::string& name);

// The fields ReadFields gives, one "field: value" line each, ended by a line
// feed, the value Escaped.
std::string ListFields(const std::string& name);

// `text` on one line that a script can read back: a backslash as "\\", line
// feed, carriage return and tab as "\n", "\r" and "\t", other control bytes
// as "\xNN".
std::string Escaped(const std::string& text);

}  // namespace tagedit

#endif  // TAGEDIT_TAG_LIST_H_
