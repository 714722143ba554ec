#ifndef TAGEDIT_COMMAND_H_
#define TAGEDIT_COMMAND_H_

#include <string>
#include <vector>

namespace tagedit {

struct Field;

// Every command-line word, word 0 being the program name, exactly as received.
using ArgumentList = std::vector<std::string>;

// A header line naming the file, then a line per applied group, each ended by
// CR LF.
using SummaryText = std::string;

// One "-set <field> <value>" group.
struct FieldEdit {
  const Field* field;
  std::string value;  // as typed
};

// A command whose grammar and values have all been accepted.
struct EditCommand {
  std::vector<std::string> file_names;  // as typed
  std::vector<FieldEdit> edits;         // in command-line order
};

// Checks the grammar and every value of `args`, a file name and its groups
// (at least two words); throws EditError with the message of the first fault.
EditCommand ParseCommand(const ArgumentList& args);

// Checks `args`, "--each", its groups, an optional "--" and the files, as
// ParseCommand does; throws EditError when there is no file.
EditCommand ParseEachCommand(const ArgumentList& args);

// The text reporting that every group of `command` was applied to the file
// `name`.
SummaryText Summarize(const EditCommand& command, const std::string& name);

}  // namespace tagedit

#endif  // TAGEDIT_COMMAND_H_
