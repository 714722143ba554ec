#ifndef TAGEDIT_TAG_FILE_H_
#define TAGEDIT_TAG_FILE_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "tagedit/unique_fd.h"

namespace tagedit {

// An MP3 file opened and locked for an edit, where its tags lie and what they
// hold. Every read and write of the edit goes through `fd` or `directory`,
// never through the name again.
struct TagFile {
  UniqueFd fd;         // open for reading, and for writing where the caller may
  UniqueFd directory;  // the directory that held the file, as a path handle
  std::string name;    // the file's name in `directory`
  struct stat status;  // as opened
  uint64_t size = 0;
  // The room of the ID3v2 tag at the start: whole blocks of zeros, which an
  // insert stopped before it wrote the tag leaves, then the tag, header to
  // footer. Empty when there is neither.
  std::string v2;
  uint64_t zeros = 0;  // the zero blocks at the start of `v2`
  std::string v1;      // the ID3v1 tag at the end, or empty

  bool writable() const;  // `fd` is open for writing too
  bool has_v2() const { return v2.size() > zeros; }
  // The ID3v2 tag itself, header to footer, behind any zero blocks.
  std::string v2_tag() const { return v2.substr(zeros); }
  uint64_t audio_begin() const { return v2.size(); }
  uint64_t audio_end() const { return size - v1.size(); }
};

// Opens the file `name` refers to, waits (bounded) for an exclusive lock on
// it and reads its tags; throws EditError when it is not a readable regular
// file, stays locked, its ID3v2 tag claims more bytes than the file holds, or
// it holds no MPEG audio.
TagFile OpenTagFile(const std::string& name);

// Opens the file `name` refers to for reading alone, without a lock, and
// reads its tags; throws EditError when it is not a readable regular file or
// its ID3v2 tag claims more bytes than the file holds.
TagFile ReadTagFile(const std::string& name);

// Whether `file` still has the size and modification time it was read with.
bool Unchanged(const TagFile& file);

// Whether the name of `file` in its directory still refers to it.
bool StillNamed(const TagFile& file);

// How much a scan or a copy reads at a time, so that memory does not grow
// with the file.
inline constexpr size_t kChunk = 65536;

// Reads exactly `length` bytes at `offset` of `fd`; false on any shortfall.
bool ReadAt(int fd, uint64_t offset, size_t length, std::string* bytes);

// Writes all of `bytes` at `offset` of `fd`; false on any shortfall.
bool WriteAt(int fd, uint64_t offset, const std::string& bytes);

}  // namespace tagedit

#endif  // TAGEDIT_TAG_FILE_H_
