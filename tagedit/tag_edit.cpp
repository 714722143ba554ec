#include "tagedit/tag_edit.h"

#include <algorithm>

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3lib_child.h"
#include "tagedit/id3v1.h"
#include "tagedit/tag_file.h"
#include "tagedit/tag_writer.h"

namespace tagedit {

namespace {

// Replaces the frames of `tag` that a field `edits` set holds by the frames
// id3lib rendered for them (ID3v2.3), in the tag's own version: each field's
// in place of the first frame it replaces, or, where the tag did not hold it,
// in front of every frame, where readers that give up at a frame they cannot
// parse still find it. Every other frame stays as it was, byte for byte and in
// order.
void SpliceFrames(const std::vector<FieldEdit>& edits,
                  const std::string& rendered, V2Tag* tag) {
  std::vector<std::pair<const Field*, V2Frame>> added;
  V2Tag rendered_tag;
  ParseFrames(rendered, &rendered_tag);
  for (const V2Frame& frame : rendered_tag.frames) {
    const Field* field = FieldOfFrame(frame.id);
    if (field == nullptr) throw EditError(kCannotRead);
    std::string data = RenderedData(*field, frame.bytes.substr(kV2HeaderSize));
    added.push_back({field, MakeFrame(*tag, field->ids[tag->major - 2], data)});
  }
  std::vector<V2Frame> frames;
  for (const V2Frame& frame : tag->frames) {
    auto edit =
        std::find_if(edits.begin(), edits.end(), [&](const FieldEdit& e) {
          return ReplacesFrame(*e.field, *tag, frame);
        });
    if (edit == edits.end()) {
      frames.push_back(frame);
      continue;
    }
    for (auto& [field, new_frame] : added) {
      if (field != edit->field) continue;
      frames.push_back(new_frame);
      field = nullptr;  // placed: the field's later old frames just go
    }
  }
  std::vector<V2Frame> front;
  for (const auto& [field, frame] : added) {
    if (field != nullptr) front.push_back(frame);
  }
  frames.insert(frames.begin(), front.begin(), front.end());
  tag->frames = std::move(frames);
}

}  // namespace

void ApplyTagEdits(const ArgumentList& args, SummaryText& summary) {
  // Every word is checked before the file is opened, so a wrong command is
  // reported as such whatever state the file is in.
  EditCommand command = ParseCommand(args);
  TagFile file = OpenTagFile(command.file_name);
  bool tagged = !file.v2_tag.empty() || !file.v1_tag.empty();
  V2Tag tag = !file.v2_tag.empty() ? ParseV2Tag(file.v2_tag) : V2Tag{};
  std::vector<FieldEdit> edits = command.edits;
  // A file with an ID3v1 tag alone gets an ID3v2 tag holding its fields too.
  if (file.v2_tag.empty() && !file.v1_tag.empty()) {
    std::vector<FieldEdit> v1_fields = V1Edits(file.v1_tag);
    edits.insert(edits.begin(), v1_fields.begin(), v1_fields.end());
  }
  SpliceFrames(edits, RenderFrames(edits), &tag);
  std::vector<const Field*> set;
  for (const FieldEdit& edit : command.edits) set.push_back(edit.field);
  // Removing what a file without tags does not hold changes nothing.
  if (tagged || !tag.frames.empty()) {
    WriteTags(file, tag, BuildV1(tag, set, file.v1_tag));
  }
  summary = Summarize(command);
}

}  // namespace tagedit
