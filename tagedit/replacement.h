#ifndef TAGEDIT_REPLACEMENT_H_
#define TAGEDIT_REPLACEMENT_H_

#include <string>

#include "tagedit/file_ops.h"
#include "tagedit/tag_file.h"
#include "tagedit/unique_fd.h"

namespace tagedit {

// A complete new file made to take the place of an old one in its folder.
// It is unnamed while it is written, where the file system allows, and takes
// the old one's name by exchange only at Commit; until then, and whatever
// fails, it is removed. Only a SIGKILL or a power loss can leave it behind,
// under a name of its own that the next run writing in that folder
// recognises and removes.
class Replacement {
 public:
  Replacement() = default;
  // Starts an empty new file beside `file`, first removing what killed
  // edits left in that folder (once a run); throws EditError.
  Replacement(const TagFile& file, FileOps& ops);
  Replacement(Replacement&& other) noexcept;
  Replacement& operator=(Replacement&& other) noexcept;
  ~Replacement();

  bool valid() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }

  // Gives the new file, all written, the guards of `file` (owner, group,
  // mode, extended attributes, inode flags) and syncs it; throws EditError
  // when any of them cannot be given exactly.
  void Finish(const TagFile& file);

  // Makes the new file take the name of `file`, if the name still refers to
  // it and it is unchanged, and syncs the folder; throws EditError, and then
  // the name holds the old file, or the new one if only the sync failed.
  void Commit(const TagFile& file);

 private:
  // Removes the name `name` of the folder if it refers to the file `inode`.
  void RemoveIfItIs(const std::string& name, ino_t inode);

  FileOps* ops_ = nullptr;
  int dir_ = -1;      // the folder, held by the old file's TagFile
  UniqueFd fd_;       // the new file, locked while it is ours
  std::string name_;  // its name in the folder, while it has one
  ino_t old_inode_ = 0;
};

}  // namespace tagedit

#endif  // TAGEDIT_REPLACEMENT_H_
