#include "tagedit/tag_edit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <map>
#include <set>
#include <string_view>

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3lib_child.h"
#include "tagedit/id3v1.h"
#include "tagedit/signal_block.h"
#include "tagedit/tag_file.h"
#include "tagedit/tag_writer.h"

namespace tagedit {

namespace {

// Replaces the frames of `tag` that a field `edits` set holds by the frames
// id3lib rendered for them (ID3v2.3), in the tag's own version and all in
// front of the frames kept, replaced or new: readers that give up at a frame
// they cannot parse (eyeD3 at iTunes' GP1) still find every field set. The
// kept frames stay as they were, byte for byte and in order.
// A tag that holds every value already is left as it is.
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
  std::vector<std::string_view> set, replaced;
  for (const V2Frame& frame : frames) set.push_back(tag->Bytes(frame));
  for (const V2Frame& frame : tag->frames) {
    if (std::none_of(edits.begin(), edits.end(), [&](const FieldEdit& e) {
          return ReplacesFrame(*e.field, *tag, frame);
        })) {
      frames.push_back(frame);
    } else {
      replaced.push_back(tag->Bytes(frame));
    }
  }
  // Where the tag holds every value already, it stays as it is: an edit that
  // changes nothing writes nothing.
  std::sort(set.begin(), set.end());
  std::sort(replaced.begin(), replaced.end());
  if (set != replaced) tag->frames = std::move(frames);
}

// How many files a batch edits before it makes them durable, and how many
// bytes of new files may wait meanwhile: each file holds its lock, and a new
// file waiting to take its place holds space, until then.
constexpr size_t kWindow = 64;
constexpr uint64_t kWindowBytes = uint64_t{64} << 20;

// How many files a batch looks ahead for commands to render in the same
// child process as the one a file needs: a child for each command would cost
// a batch of files that each get their own values more than the edits.
constexpr size_t kRenderAhead = 256;

// The frames id3lib renders for the commands of a batch's files, edited in
// order: each command's when a file first needs them, together with those of
// the next kRenderAhead files, and kept only as long as that.
class Rendering {
 public:
  explicit Rendering(const std::vector<BatchFile>& files) : files_(files) {}
  // Moves on to files_[at], whose command frames() renders.
  void MoveTo(size_t at) { at_ = at; }
  const std::string& frames() {
    const EditCommand* command = files_[at_].command;
    if (rendered_.count(command) == 0) RenderAhead();
    const Rendered& rendered = rendered_.at(command);
    if (rendered.failure) std::rethrow_exception(rendered.failure);
    return rendered.frames;
  }

 private:
  struct Rendered {
    std::string frames;
    std::exception_ptr failure;
  };

  // Renders the commands of the next files, and forgets those of the files
  // passed; if it fails, the commands are as they were.
  void RenderAhead() {
    std::map<const EditCommand*, Rendered> ahead;
    std::vector<const EditCommand*> commands;
    std::vector<const std::vector<FieldEdit>*> lists;
    for (size_t i = at_; i < files_.size() && i < at_ + kRenderAhead; ++i) {
      const EditCommand* command = files_[i].command;
      if (ahead.emplace(command, Rendered{}).second) {
        commands.push_back(command);
        lists.push_back(&command->edits);
      }
    }
    try {
      std::vector<std::string> frames = RenderFrameLists(lists);
      for (size_t i = 0; i < commands.size(); ++i) {
        ahead[commands[i]].frames = std::move(frames[i]);
      }
    } catch (...) {
      if (commands.size() == 1) throw;
      // Values the library fails on fail their own files, not their
      // neighbours'.
      for (const EditCommand* command : commands) {
        try {
          ahead[command].frames = RenderFrames(command->edits);
        } catch (...) {
          ahead[command].failure = std::current_exception();
        }
      }
    }
    rendered_ = std::move(ahead);
  }

  const std::vector<BatchFile>& files_;
  size_t at_ = 0;
  std::map<const EditCommand*, Rendered> rendered_;
};

// Edits the file `name` with `edits`; returns it open and locked, as a batch
// needs it until it is durable.
TagFile EditFile(const std::string& name, const std::vector<FieldEdit>& edits,
                 Rendering& rendering, FileOps& ops, Replacement* pending) {
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
  const BatchFile* batch_file = nullptr;
  TagFile file;
  Replacement pending;  // a new file waiting to take its place, if any
  UniqueFd folder;      // once it took it, its folder, to be synced
  std::exception_ptr failure;
};

// Makes durable, with one sync of each file system, the descriptor `fd_of`
// gives of each file of `window` that has not failed (none for -1); where
// that fails, syncs each alone, and fails those it cannot.
template <typename FdOf>
void SyncAll(std::vector<Edited>& window, FileOps& ops, FdOf fd_of) {
  std::set<dev_t> synced;
  for (Edited& first : window) {
    dev_t device = first.file.status.st_dev;
    if (first.failure || fd_of(first) < 0 || !synced.insert(device).second ||
        ops.SyncFileSystem(fd_of(first))) {
      continue;
    }
    for (Edited& edited : window) {
      if (!edited.failure && edited.file.status.st_dev == device &&
          fd_of(edited) >= 0 && !ops.Flush(fd_of(edited))) {
        edited.failure =
            std::make_exception_ptr(EditError(kCannotWrite, errno));
      }
    }
  }
}

}  // namespace

void ApplyTagEdits(const ArgumentList& args, SummaryText& summary) {
  // Every word is checked before the file is opened, so a wrong command is
  // reported as such whatever state the file is in.
  EditCommand command = ParseCommand(args);
  const std::vector<BatchFile> files{{command.file_names[0], &command}};
  Rendering rendering(files);
  FileOps ops;
  EditFile(command.file_names[0], command.edits, rendering, ops, nullptr);
  summary = Summarize(command, command.file_names[0]);
}

int ApplyTagEditsToFiles(const std::vector<BatchFile>& files,
                         const EachReport& report, FileOps& ops) {
  // A signal ends the batch between files, not inside a window.
  SignalBlock signals;
  ops.defer_syncs = true;
  // Commands' frames are rendered when a file first needs them.
  Rendering rendering(files);
  std::vector<Edited> window;
  uint64_t window_bytes = 0;
  size_t done = 0;
  auto commit = [&] {
    // Each new file is durable before it takes its place, and its folder
    // after.
    SyncAll(window, ops, [](const Edited& edited) {
      return edited.pending.valid() ? edited.pending.fd()
                                    : edited.file.fd.get();
    });
    for (Edited& edited : window) {
      if (edited.failure || !edited.pending.valid()) continue;
      try {
        edited.pending.Commit(edited.file);
        edited.folder = UniqueFd(openat(edited.file.directory.get(), ".",
                                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      } catch (...) {
        edited.failure = std::current_exception();
      }
    }
    SyncAll(window, ops,
            [](const Edited& edited) { return edited.folder.get(); });
    for (const Edited& edited : window) {
      report({edited.batch_file->name,
              Summarize(*edited.batch_file->command, edited.batch_file->name),
              edited.failure, ++done, files.size()});
    }
    window.clear();
    window_bytes = 0;
  };
  for (const BatchFile& batch_file : files) {
    if (signals.Pending()) break;
    // A file named again waits until its first edit is done and lets go of
    // its lock; so every name of it gets the same values, in order.
    struct stat named;
    if (window.size() == kWindow || window_bytes >= kWindowBytes ||
        (stat(batch_file.name.c_str(), &named) == 0 &&
         std::any_of(window.begin(), window.end(), [&](const Edited& edited) {
           return SameInode(edited.file.status, named);
         }))) {
      commit();
    }
    Edited edited;
    edited.batch_file = &batch_file;
    const EditCommand& command = *batch_file.command;
    rendering.MoveTo(&batch_file - files.data());
    for (bool retried = false;; retried = true) {
      try {
        edited.file = EditFile(batch_file.name, command.edits, rendering, ops,
                               &edited.pending);
        edited.failure = nullptr;
        break;
      } catch (const EditError& error) {
        edited.failure = std::current_exception();
        // New files waiting in the window hold space; once they are in
        // place, this one may fit.
        bool full = error.cause() == ENOSPC || error.cause() == EDQUOT;
        if (retried || !full || window_bytes == 0) break;
        commit();
      } catch (...) {
        edited.failure = std::current_exception();
        break;
      }
    }
    // The file a signal stopped is as it was, and not reached.
    if (edited.failure && signals.Pending()) break;
    struct stat status;
    if (edited.pending.valid() && fstat(edited.pending.fd(), &status) == 0) {
      window_bytes += status.st_size;
    }
    // Memory stays that of one tag, however many files the window holds.
    std::string().swap(edited.file.v2_tag);
    window.push_back(std::move(edited));
  }
  commit();
  return signals.Take();
}

int ApplyTagEditsToFiles(const std::vector<BatchFile>& files,
                         const EachReport& report) {
  FileOps ops;
  return ApplyTagEditsToFiles(files, report, ops);
}

int ApplyTagEditsToEach(const ArgumentList& args, const EachReport& report) {
  EditCommand command = ParseEachCommand(args);
  std::vector<BatchFile> files;
  for (const std::string& name : command.file_names) {
    files.push_back({name, &command});
  }
  return ApplyTagEditsToFiles(files, report);
}

}  // namespace tagedit
