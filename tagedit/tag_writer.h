#ifndef TAGEDIT_TAG_WRITER_H_
#define TAGEDIT_TAG_WRITER_H_

#include <cstdint>
#include <string>

#include "tagedit/frame_list.h"
#include "tagedit/tag_file.h"

namespace tagedit {

// The size of the new ID3v2 tag, header included, for `needed` bytes of header
// and frames (0 for no frame: no tag, but a large file keeps its room as a
// tag of padding only): the old tag's room when the tag fits it with less
// than 4 KiB to spare (any room, for 32 MiB of audio or more), else at least
// 1 KiB of padding, up to the next multiple of 2 KiB for the whole file.
uint64_t ChooseV2Size(uint64_t needed, uint64_t old_v2_size,
                      uint64_t audio_size);

// `v2` (header and frames) padded with zero bytes to `size` bytes, its header
// saying so; empty when `size` is 0.
std::string PadV2(const std::string& v2, uint64_t size);

// The calls that change files, so that a test can make any one of them fail
// or do more.
class FileOps {
 public:
  virtual ~FileOps() = default;
  virtual bool Proceed() { return true; }  // false fails the call
  virtual bool Write(int fd, uint64_t offset, const std::string& bytes);
  virtual bool Sync(int fd);   // makes the file durable; a batch defers it
  virtual bool Flush(int fd);  // orders writes: never deferred
  virtual bool Truncate(int fd, uint64_t size);
  virtual bool Insert(int fd, uint64_t length);    // blocks at the front
  virtual bool Collapse(int fd, uint64_t length);  // those blocks taken out
  virtual bool Rename(int dir, const std::string& from, const std::string& to);
  virtual bool Exchange(int dir, const std::string& a, const std::string& b);
};

// A complete new file, named beside the old one and waiting to replace it.
struct NewFile {
  UniqueFd fd;
  std::string name;
};

// Puts the ID3v2 tag `tag` and the ID3v1 tag `v1` into `file`: in place when
// the ID3v2 tag keeps its size, into blocks inserted at the front of a large
// or hard-linked file where the file system can, else by a complete new file
// that carries every guard of the old one, renamed over it; throws EditError,
// and then the file is as it was. Given `pending`, a new file is left there,
// not yet synced nor renamed, for ReplaceWith.
void WriteTags(const TagFile& file, const V2Tag& tag, const std::string& v1,
               FileOps& ops, NewFile* pending = nullptr);

// Renames the new file `pending`, synced by the caller, over `file`, if the
// name still refers to it and it is unchanged; throws EditError and removes
// the new file otherwise.
void ReplaceWith(const TagFile& file, NewFile* pending, FileOps& ops);
inline void WriteTags(const TagFile& file, const V2Tag& tag,
                      const std::string& v1) {
  FileOps ops;
  WriteTags(file, tag, v1, ops);
}

}  // namespace tagedit

#endif  // TAGEDIT_TAG_WRITER_H_
