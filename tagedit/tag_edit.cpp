#include "tagedit/tag_edit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <map>
#include <set>

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
// id3lib rendered for them (ID3v2.3), in the tag's own version and all in
// front of the frames kept, replaced or new: readers that give up at a frame
// they cannot parse (eyeD3 at iTunes' GP1) still find every field set. The
// kept frames stay as they were, byte for byte and in order.
void SpliceFrames(const std::vector<FieldEdit>& edits,
                  const std::string& rendered, V2Tag* tag) {
  V2Tag rendered_tag;
  ParseFrames(rendered, &rendered_tag);
  std::vector<V2Frame> frames;
  frames.reserve(rendered_tag.frames.size() + tag->frames.size());
  for (const V2Frame& frame : rendered_tag.frames) {
    const Field* field = FieldOfFrame(rendered_tag.Id(frame));
    if (field == nullptr) throw EditError(kCannotRead);
    std::string data = RenderedData(
        *field,
        std::string(rendered_tag.Bytes(frame).substr(kFrameHeaderSize)));
    frames.push_back(MakeFrame(tag, field->ids[tag->major - 2], data));
  }
  for (const V2Frame& frame : tag->frames) {
    if (std::none_of(edits.begin(), edits.end(), [&](const FieldEdit& e) {
          return ReplacesFrame(*e.field, *tag, frame);
        })) {
      frames.push_back(frame);
    }
  }
  tag->frames = std::move(frames);
}

// Defers the syncs that make files durable, so that one sync of each file
// system makes a whole window of a batch durable at once.
class BatchOps : public FileOps {
 public:
  bool Sync(int) override { return true; }
};

// How many files a batch edits before it makes them durable: each holds its
// lock, and a new file waiting to be renamed in, until then.
constexpr size_t kWindow = 64;

// The frames id3lib renders for a command's groups: once, when first needed.
class Rendering {
 public:
  explicit Rendering(const std::vector<FieldEdit>& edits) : edits_(edits) {}
  const std::string& frames() {
    if (!rendered_) {
      frames_ = RenderFrames(edits_);
      rendered_ = true;
    }
    return frames_;
  }

 private:
  const std::vector<FieldEdit>& edits_;
  bool rendered_ = false;
  std::string frames_;
};

// Edits the file `name` with `edits`; returns it open and locked, as a batch
// needs it until it is durable.
TagFile EditFile(const std::string& name, const std::vector<FieldEdit>& edits,
                 Rendering& rendering, FileOps& ops, NewFile* pending) {
  TagFile file = OpenTagFile(name);
  bool tagged = !file.v2_tag.empty() || !file.v1_tag.empty();
  V2Tag tag = !file.v2_tag.empty() ? ParseV2Tag(file.v2_tag) : V2Tag{};
  std::vector<FieldEdit> all = edits;
  std::string rendered = rendering.frames();
  // A file with an ID3v1 tag alone gets an ID3v2 tag holding its fields too,
  // those the command does not set.
  if (file.v2_tag.empty() && !file.v1_tag.empty()) {
    std::vector<FieldEdit> kept;
    for (const FieldEdit& v1_field : V1Edits(file.v1_tag)) {
      if (std::none_of(edits.begin(), edits.end(), [&](const FieldEdit& e) {
            return e.field == v1_field.field;
          })) {
        kept.push_back(v1_field);
      }
    }
    all.insert(all.begin(), kept.begin(), kept.end());
    if (!kept.empty()) rendered = RenderFrames(kept) + rendered;
  }
  SpliceFrames(all, rendered, &tag);
  std::vector<const Field*> set;
  for (const FieldEdit& edit : edits) set.push_back(edit.field);
  // Removing what a file without tags does not hold changes nothing.
  if (tagged || !tag.frames.empty()) {
    WriteTags(file, tag, BuildV1(tag, set, file.v1_tag), ops, pending);
  }
  return file;
}

// One file of a batch while its window is open.
struct Edited {
  const BatchFile* batch_file;
  TagFile file;
  NewFile pending;  // a new file waiting to be renamed in, if any
  std::exception_ptr failure;
};

// Makes every edited file of `window` durable with one sync of each file
// system; where that fails, syncs each file alone to tell which failed.
void SyncAll(std::vector<Edited>& window) {
  std::set<dev_t> synced;
  for (Edited& first : window) {
    dev_t device = first.file.status.st_dev;
    if (first.failure || !synced.insert(device).second ||
        syncfs(first.file.fd.get()) == 0) {
      continue;
    }
    for (Edited& edited : window) {
      if (!edited.failure && edited.file.status.st_dev == device &&
          fsync(edited.file.fd.get()) != 0) {
        edited.failure = std::make_exception_ptr(EditError(kCannotWrite));
      }
    }
  }
}

}  // namespace

void ApplyTagEdits(const ArgumentList& args, SummaryText& summary) {
  // Every word is checked before the file is opened, so a wrong command is
  // reported as such whatever state the file is in.
  EditCommand command = ParseCommand(args);
  Rendering rendering(command.edits);
  FileOps ops;
  EditFile(command.file_names[0], command.edits, rendering, ops, nullptr);
  summary = Summarize(command, command.file_names[0]);
}

void ApplyTagEditsToFiles(const std::vector<BatchFile>& files,
                          const EachReport& report) {
  // Each command's frames are rendered once, when a file first needs them.
  std::map<const EditCommand*, Rendering> renderings;
  BatchOps ops;
  std::vector<Edited> window;
  size_t done = 0;
  auto commit = [&] {
    // The new files are synced before they are renamed in, and the renames
    // after.
    SyncAll(window);
    for (Edited& edited : window) {
      if (edited.failure || !edited.pending.fd.valid()) continue;
      try {
        ReplaceWith(edited.file, &edited.pending, ops);
      } catch (...) {
        edited.failure = std::current_exception();
      }
    }
    SyncAll(window);
    for (const Edited& edited : window) {
      report({edited.batch_file->name,
              Summarize(*edited.batch_file->command, edited.batch_file->name),
              edited.failure, ++done, files.size()});
    }
    window.clear();
  };
  for (const BatchFile& batch_file : files) {
    // A file named again waits until its first edit is done and lets go of
    // its lock; so every name of it gets the same values, in order.
    struct stat named;
    if (window.size() == kWindow ||
        (stat(batch_file.name.c_str(), &named) == 0 &&
         std::any_of(window.begin(), window.end(), [&](const Edited& edited) {
           return SameInode(edited.file.status, named);
         }))) {
      commit();
    }
    Edited& edited = window.emplace_back();
    edited.batch_file = &batch_file;
    const EditCommand& command = *batch_file.command;
    try {
      Rendering& rendering =
          renderings.try_emplace(&command, command.edits).first->second;
      edited.file = EditFile(batch_file.name, command.edits, rendering, ops,
                             &edited.pending);
    } catch (...) {
      edited.failure = std::current_exception();
    }
    // Memory stays that of one tag, however many files the window holds.
    std::string().swap(edited.file.v2_tag);
  }
  commit();
}

void ApplyTagEditsToEach(const ArgumentList& args, const EachReport& report) {
  EditCommand command = ParseEachCommand(args);
  std::vector<BatchFile> files;
  for (const std::string& name : command.file_names) {
    files.push_back({name, &command});
  }
  ApplyTagEditsToFiles(files, report);
}

}  // namespace tagedit
