#ifndef TAGEDIT_TAG_FILE_H_
#define TAGEDIT_TAG_FILE_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "tagedit/unique_fd.h"

namespace tagedit {

// An MP3 file opened for an edit, where its tags lie and what they hold.
struct TagFile {
  std::string path;    // the regular file itself, symbolic links resolved
  UniqueFd fd;         // open for reading
  struct stat status;  // as opened
  uint64_t size = 0;
  std::string v2;  // the ID3v2 tag at the start, header to footer, or empty
  std::string v1;  // the ID3v1 tag at the end, or empty

  uint64_t audio_begin() const { return v2.size(); }
  uint64_t audio_end() const { return size - v1.size(); }
};

// Opens the file `name` refers to and reads its tags; throws EditError when it
// is not a readable regular file, its ID3v2 tag claims more bytes than the
// file holds, or it holds no MPEG audio.
TagFile OpenTagFile(const std::string& name);

// Reads exactly `length` bytes at `offset` of `fd`; false on any shortfall.
bool ReadAt(int fd, uint64_t offset, size_t length, std::string* bytes);

// Writes all of `bytes` at `offset` of `fd`; false on any shortfall.
bool WriteAt(int fd, uint64_t offset, const std::string& bytes);

}  // namespace tagedit

#endif  // TAGEDIT_TAG_FILE_H_
