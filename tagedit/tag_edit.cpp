#include "tagedit/tag_edit.h"

#include <id3/tag.h>

#include "tagedit/fields.h"

namespace tagedit {

namespace {

void WriteTag(ID3_Tag& tag) { tag.Update(0xFFFF); }

}  // namespace

void ApplyTagEdits(const ArgumentList& args, SummaryText& summary) {
  // Every word is checked before the file is opened, so a wrong command is
  // reported as such whatever state the file is in.
  EditCommand command = ParseCommand(args);
  ID3_Tag tag(command.file_name.c_str());
  for (const FieldEdit& edit : command.edits)
    edit.field->apply(tag, edit.value);
  WriteTag(tag);
  summary = Summarize(command);
}

}  // namespace tagedit
