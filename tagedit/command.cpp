#include "tagedit/command.h"

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"

namespace tagedit {

namespace {

constexpr char kNotEnoughArguments[] =
    "Invalid argument usage. Not enough arguments.";
constexpr char kSetNotFound[] = "Incorrect argument usage. -set not found.";
constexpr char kUnknownField[] =
    "Incorrect argument usage. Unrecognised field name.";

}  // namespace

EditCommand ParseCommand(const ArgumentList& args) {
  if (args.size() <= 2) throw EditError(kNotEnoughArguments);
  EditCommand command{args[1], {}};
  // The grammar is positional: a word's place alone makes it a keyword, a
  // field name or a value, so a value may well read "-set".
  for (size_t keyword = 2; keyword < args.size(); keyword += 3) {
    if (args[keyword] != "-set") throw EditError(kSetNotFound);
    if (keyword + 1 >= args.size()) throw EditError(kNotEnoughArguments);
    const Field* field = FindField(args[keyword + 1]);
    if (field == nullptr) throw EditError(kUnknownField);
    if (keyword + 2 >= args.size()) throw EditError(kNotEnoughArguments);
    const std::string& value = args[keyword + 2];
    if (field->check != nullptr) field->check(value);
    command.edits.push_back({field, value});
  }
  return command;
}

SummaryText Summarize(const EditCommand& command) {
  SummaryText summary = "For MP3 File: " + command.file_name + "\r\n";
  for (const FieldEdit& edit : command.edits) {
    summary +=
        "- Set " + std::string(edit.field->name) + " to " + edit.value + "\r\n";
  }
  return summary;
}

}  // namespace tagedit
