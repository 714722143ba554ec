#include "tagedit/command.h"

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"

namespace tagedit {

namespace {

// Reads the group at `keyword` of `args` into `edits`; throws EditError for
// a fault. The grammar is positional: a word's place alone makes it a
// keyword, a field name or a value, so a value may well read "-set".
void ParseGroup(const ArgumentList& args, size_t keyword,
                std::vector<FieldEdit>* edits) {
  if (keyword >= args.size()) throw EditError(kNotEnoughArguments);
  if (args[keyword] != "-set") throw EditError(kSetNotFound);
  if (keyword + 1 >= args.size()) throw EditError(kNotEnoughArguments);
  const Field* field = FindField(args[keyword + 1]);
  if (field == nullptr) throw EditError(kUnknownField);
  if (keyword + 2 >= args.size()) throw EditError(kNotEnoughArguments);
  const std::string& value = args[keyword + 2];
  if (field->check != nullptr) field->check(value);
  edits->push_back({field, value});
}

}  // namespace

EditCommand ParseCommand(const ArgumentList& args) {
  if (args.size() <= 2) throw EditError(kNotEnoughArguments);
  EditCommand command{{args[1]}, {}};
  for (size_t keyword = 2; keyword < args.size(); keyword += 3) {
    ParseGroup(args, keyword, &command.edits);
  }
  return command;
}

EditCommand ParseEachCommand(const ArgumentList& args) {
  EditCommand command;
  size_t word = 2;
  do {
    ParseGroup(args, word, &command.edits);
    word += 3;
  } while (args.begin() + word != args.end() && args[word] == "-set");
  auto files = args.begin() + word;
  if (files != args.end() && *files == "--") ++files;
  if (files == args.end()) throw EditError(kNotEnoughArguments);
  command.file_names.assign(files, args.end());
  return command;
}

SummaryText Summarize(const EditCommand& command, const std::string& name) {
  SummaryText summary = "For MP3 File: " + name + "\r\n";
  for (const FieldEdit& edit : command.edits) {
    summary +=
        "- Set " + std::string(edit.field->name) + " to " + edit.value + "\r\n";
  }
  return summary;
}

}  // namespace tagedit
