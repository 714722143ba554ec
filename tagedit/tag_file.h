#ifndef TAGEDIT_TAG_FILE_H_
#define TAGEDIT_TAG_FILE_H_

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tagedit/file_io.h"
#include "tagedit/unique_fd.h"

namespace tagedit {

// An MP3 file opened and locked for an edit, where its tags lie and what they
// hold. Every read and write of the edit goes through `fd` or `directory`,
// never through the name again.
struct TagFile {
  UniqueFd fd;         // open for reading, and for writing where the caller may
  UniqueFd lock;       // holds the edit's lock once `fd` is open for writing
  UniqueFd directory;  // the directory that held the file, as a path handle
  std::string name;    // the file's name in `directory`
  struct stat status {};  // as opened
  uint64_t size = 0;
  // Whole blocks of zeros at the start, which an insert stopped before it
  // wrote the tag leaves in front of the old tag or the audio: room for a tag.
  uint64_t zero_blocks = 0;
  std::string v2_tag;  // the ID3v2 tag behind them, header to footer, or empty
  std::string v1_tag;  // the ID3v1 tag, or empty
  // Where the ID3v1 tag is: at the end, or before what other taggers append
  // behind it; when there is none, where one is appended: the end of the
  // file, or where a killed edit's append of one starts.
  uint64_t v1_at = 0;
  std::string torn_v1;  // what that append left, or empty

  int write_error = 0;    // why `fd` could not be opened for writing too
  bool writable() const;  // `fd` is open for writing too
  // What a new ID3v2 tag may take without moving the audio.
  uint64_t v2_room() const { return zero_blocks + v2_tag.size(); }
  uint64_t audio_begin() const { return v2_room(); }
  uint64_t audio_end() const { return v1_at; }
};

// How long an edit waits for another one on the same file to end.
inline constexpr std::chrono::milliseconds kLockWait{10000};

// Opens the file `name` refers to, waits up to `lock_wait` for an exclusive
// lock on it and reads its tags; throws EditError when it is not a readable
// regular file, stays locked, its ID3v2 tag claims more bytes than the file
// holds, or it holds no MPEG audio. Only then is it opened for writing too,
// where the caller may.
TagFile OpenTagFile(const std::string& name,
                    std::chrono::milliseconds lock_wait = kLockWait);

// Opens the file `name` refers to for reading alone, without a lock, and
// reads its tags; throws EditError when it is not a readable regular file or
// its ID3v2 tag claims more bytes than the file holds.
TagFile ReadTagFile(const std::string& name);

// Whether `a` and `b` describe one file.
bool SameInode(const struct stat& a, const struct stat& b);

// Whether `file` still has the size and modification time it was read with.
bool Unchanged(const TagFile& file);

// Whether the name of `file` in its directory, or `name` there, refers to it.
bool StillNamed(const TagFile& file, const std::string& name = "");

}  // namespace tagedit

#endif  // TAGEDIT_TAG_FILE_H_
