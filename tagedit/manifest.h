#ifndef TAGEDIT_MANIFEST_H_
#define TAGEDIT_MANIFEST_H_

#include <deque>
#include <string>
#include <vector>

#include "tagedit/command.h"
#include "tagedit/tag_edit.h"

namespace tagedit {

// Names and values are bytes, and JSON strings Unicode. So that every byte
// string goes into JSON and back unchanged, a byte 0x80 to 0xFF that is not
// part of valid UTF-8, or is part of a character U+EF80 to U+EFFF itself, is
// written as the character U+EF00 plus its value; reading turns every
// U+EF80 to U+EFFF back into its byte.

// The JSON object listing `fields` of the file `name`, on one line: "file",
// then each field by its -set name.
std::string ListingJson(const std::string& name,
                        const std::vector<FieldEdit>& fields);

// The JSON object reporting that the file `name` could not be read, with
// `message`, on one line.
std::string FailureJson(const std::string& name, const std::string& message);

// A manifest read and checked: every entry's file in order, each with the
// command its entry gives.
struct Manifest {
  std::deque<EditCommand> commands;  // one per entry; `files` point here
  std::vector<BatchFile> files;
};

// Reads the manifest `name` ("-": standard input) to its end: a JSON array of
// objects, each with a "file" and any of the field names (and an "error",
// ignored), each a string, the values checked as -set checks them. Throws
// EditError naming the first fault and where it is.
Manifest ReadManifest(const std::string& name);

}  // namespace tagedit

#endif  // TAGEDIT_MANIFEST_H_
