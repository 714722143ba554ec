#include "tagedit/tag_file.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "tagedit/edit_error.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"
#include "tagedit/mpeg_audio.h"

namespace tagedit {

namespace {

// How long an edit waits for another one on the same file to end.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockRetry = std::chrono::milliseconds(5);

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool LockExclusively(int fd) {
  auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Without LOCK_NB's wait, no signal can interrupt it either.
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(kLockRetry);
  }
  return true;
}

// Opens and locks the regular file at `path`, and its directory.
TagFile OpenLocked(const std::string& path) {
  TagFile file;
  size_t slash = path.rfind('/');
  file.name = path.substr(slash + 1);
  file.directory = UniqueFd(open(path.substr(0, slash + 1).c_str(),
                                 O_PATH | O_DIRECTORY | O_CLOEXEC));
  // Without O_NONBLOCK, opening a FIFO would wait for a writer.
  file.fd = UniqueFd(open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!file.fd.valid() &&
      (errno == EACCES || errno == EROFS || errno == EPERM)) {
    file.fd = UniqueFd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  }
  if (!file.fd.valid() || !file.directory.valid() ||
      fstat(file.fd.get(), &file.status) != 0 ||
      !S_ISREG(file.status.st_mode)) {
    throw EditError(kCannotOpen);
  }
  if (!LockExclusively(file.fd.get())) throw EditError(kCannotWrite);
  // What the edit reads is the file as the last editor left it.
  if (fstat(file.fd.get(), &file.status) != 0) throw EditError(kCannotOpen);
  return file;
}

// The whole blocks of zeros at the start of the file, as an insert stopped
// before it wrote the tag leaves them in front of the old tag or the audio.
uint64_t LeadingZeroBlocks(const TagFile& file) {
  std::string bytes;
  uint64_t at = 0;
  while (at < file.size) {
    size_t length = std::min<uint64_t>(kChunk, file.size - at);
    if (!ReadAt(file.fd.get(), at, length, &bytes)) return 0;
    size_t nonzero = bytes.find_first_not_of('\0');
    if (nonzero != std::string::npos) {
      uint64_t block = file.status.st_blksize;
      return (at + nonzero) / block * block;
    }
    at += length;
  }
  return 0;
}

// The file `name` refers to; the link's target is what gets tagged, and the
// link itself stays a link.
std::string ResolvedPath(const std::string& name) {
  std::unique_ptr<char, decltype(&free)> real(realpath(name.c_str(), nullptr),
                                              &free);
  if (!real) throw EditError(kCannotOpen);
  return real.get();
}

// Finds and reads the tags of the regular file open as `file->fd`.
void ReadTags(TagFile* file) {
  file->size = file->status.st_size;
  file->zeros = LeadingZeroBlocks(*file);
  std::string bytes;
  uint64_t v2_size = file->zeros;
  // Fewer bytes than a header hold no tag.
  if (!ReadAt(file->fd.get(), file->zeros,
              std::min(file->size - file->zeros, kV2HeaderSize), &bytes)) {
    throw EditError(kCannotOpen);
  }
  uint64_t tag_size = V2TagSize(bytes);
  // A v2.4 footer belongs to the tag where there is one behind the frames.
  std::string footer;
  if (tag_size > 0 && bytes[3] == 4 && (bytes[5] & kFooter) != 0 &&
      ReadAt(file->fd.get(), file->zeros + tag_size, 3, &footer) &&
      footer == "3DI") {
    tag_size += kV2HeaderSize;
  }
  v2_size += tag_size;
  // Taking the audio for tag would drop it on the next write.
  if (v2_size > file->size) throw EditError(kCannotRead);
  if (!ReadAt(file->fd.get(), 0, v2_size, &file->v2)) {
    throw EditError(kCannotOpen);
  }
  if (file->size >= v2_size + kV1Size) {
    if (!ReadAt(file->fd.get(), file->size - kV1Size, kV1Size, &bytes)) {
      throw EditError(kCannotOpen);
    }
    if (bytes.compare(0, 3, "TAG") == 0) file->v1 = bytes;
  }
}

}  // namespace

bool TagFile::writable() const {
  return (fcntl(fd.get(), F_GETFL) & O_ACCMODE) == O_RDWR;
}

bool ReadAt(int fd, uint64_t offset, size_t length, std::string* bytes) {
  bytes->resize(length);
  size_t done = 0;
  while (done < length) {
    ssize_t n = TEMP_FAILURE_RETRY(
        pread(fd, bytes->data() + done, length - done, offset + done));
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool WriteAt(int fd, uint64_t offset, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = TEMP_FAILURE_RETRY(
        pwrite(fd, bytes.data() + done, bytes.size() - done, offset + done));
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool Unchanged(const TagFile& file) {
  struct stat now;
  return fstat(file.fd.get(), &now) == 0 &&
         now.st_size == file.status.st_size &&
         now.st_mtim.tv_sec == file.status.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == file.status.st_mtim.tv_nsec;
}

bool StillNamed(const TagFile& file) {
  struct stat named;
  return fstatat(file.directory.get(), file.name.c_str(), &named,
                 AT_SYMLINK_NOFOLLOW) == 0 &&
         SameInode(named, file.status);
}

TagFile OpenTagFile(const std::string& name) {
  TagFile file;
  // Another edit may rename a new file over this one while this edit waits
  // for the lock; then the new file is the one to edit.
  for (int attempt = 0;; ++attempt) {
    file = OpenLocked(ResolvedPath(name));
    if (StillNamed(file)) break;
    if (attempt == 3) throw EditError(kCannotWrite);
  }
  ReadTags(&file);
  if (!HoldsMpegAudio(file.fd.get(), file.audio_begin(), file.audio_end())) {
    throw EditError(kNotMp3);
  }
  return file;
}

TagFile ReadTagFile(const std::string& name) {
  TagFile file;
  file.fd = UniqueFd(
      open(ResolvedPath(name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.fd.valid() || fstat(file.fd.get(), &file.status) != 0 ||
      !S_ISREG(file.status.st_mode)) {
    throw EditError(kCannotOpen);
  }
  ReadTags(&file);
  return file;
}

}  // namespace tagedit
