#include "tagedit/tag_edit.h"

#include "tagedit/isolated_render.h"
#include "tagedit/tag_file.h"
#include "tagedit/tag_writer.h"

namespace tagedit {

void ApplyTagEdits(const ArgumentList& args, SummaryText& summary) {
  // Every word is checked before the file is opened, so a wrong command is
  // reported as such whatever state the file is in.
  EditCommand command = ParseCommand(args);
  TagFile file = OpenTagFile(command.file_name);
  WriteTags(file, RenderEditedTags(file, command.edits));
  summary = Summarize(command);
}

}  // namespace tagedit
