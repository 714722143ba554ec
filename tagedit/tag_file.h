#ifndef TAGEDIT_TAG_FILE_H_
#define TAGEDIT_TAG_FILE_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "tagedit/unique_fd.h"

namespace tagedit {

// An MP3 file opened for an edit, and where its tags lie.
struct TagFile {
  std::string path;    // the regular file itself, symbolic links resolved
  UniqueFd fd;         // open for reading
  struct stat status;  // as opened
  uint64_t size = 0;
  uint64_t v2_size = 0;  // the ID3v2 tag at the start, header included, or 0
  uint64_t v1_size = 0;  // 128 for an ID3v1 tag at the end, else 0

  uint64_t audio_begin() const { return v2_size; }
  uint64_t audio_end() const { return size - v1_size; }
};

// Opens the file `name` refers to; throws EditError when it is not a readable
// regular file or its ID3v2 tag claims more bytes than the file holds.
TagFile OpenTagFile(const std::string& name);

// Reads exactly `length` bytes at `offset` of `fd`; false on any shortfall.
bool ReadAt(int fd, uint64_t offset, size_t length, std::string* bytes);

// Writes all of `bytes` at `offset` of `fd`; false on any shortfall.
bool WriteAt(int fd, uint64_t offset, const std::string& bytes);

}  // namespace tagedit

#endif  // TAGEDIT_TAG_FILE_H_
