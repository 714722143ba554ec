#include "tagedit/tag_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <thread>
#include <utility>

#include "tagedit/edit_error.h"
#include "tagedit/file_io.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"
#include "tagedit/mpeg_audio.h"

namespace tagedit {

namespace {

// The failure to open what `status` describes, not a regular file.
EditError NotRegular(const struct stat& status) {
  return EditError(kCannotOpen, S_ISDIR(status.st_mode) ? EISDIR : 0);
}

constexpr auto kLockRetry = std::chrono::milliseconds(5);
// How long an edit waits for a lock before it says so on a terminal.
constexpr auto kLockNotice = std::chrono::seconds(1);

// Takes an exclusive lock on `fd`, the file `name`, within `wait`; throws
// EditError when it stays held. Someone at a terminal learns after a second
// what the edit waits for. Where the file system has no locks, there is none
// to take, as for every other tagger.
void LockExclusively(int fd, const std::string& name,
                     std::chrono::milliseconds wait) {
  auto start = std::chrono::steady_clock::now();
  bool told = false;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS) return;
    // Without LOCK_NB's wait, no signal can interrupt it either.
    if (errno != EWOULDBLOCK) throw EditError(kCannotOpen, errno);
    auto waited = std::chrono::steady_clock::now() - start;
    if (waited > wait) throw EditError(kInUse);
    if (!told && waited > kLockNotice && isatty(STDERR_FILENO)) {
      std::cerr << WaitingForLock(name) << std::flush;
      told = true;
    }
    std::this_thread::sleep_for(kLockRetry);
  }
}

// How many links in a row a name may lead through, as for the kernel.
constexpr int kLinksFollowed = 40;

// Reads the target of the link `name` in `dir` into `target`.
bool ReadLink(int dir, const std::string& name, std::string* target) {
  std::string text(PATH_MAX, '\0');
  ssize_t length = readlinkat(dir, name.c_str(), text.data(), text.size());
  if (length < 0 || static_cast<size_t>(length) == text.size()) return false;
  text.resize(length);
  *target = text;
  return true;
}

// Finds the directory and the name of the regular file `name` refers to. The
// kernel walks `name`, following links as it allows (fs.protected_symlinks
// among its rules): its folder first, then the file within it. Where a link
// led on, its text is read only to learn the target's directory, and the name
// found there must be the very file the kernel opened. From then on, only
// the directory's descriptor is used, so no later swap of a component
// redirects the edit. False when the name found holds another regular file.
bool LocateOnce(const std::string& name, TagFile* file) {
  std::string path = name;
  UniqueFd base;  // the directory `path` is relative to; none: the working one
  struct stat opened = {};
  for (int links = 0; links <= kLinksFollowed; ++links) {
    size_t slash = path.rfind('/');
    std::string folder =
        slash == std::string::npos ? "." : path.substr(0, slash + 1);
    file->name = path.substr(slash + 1);
    UniqueFd dir(openat(base.valid() ? base.get() : AT_FDCWD, folder.c_str(),
                        O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) throw EditError(kCannotOpen, errno);
    if (links == 0) {
      UniqueFd target(
          openat(dir.get(), file->name.c_str(), O_PATH | O_CLOEXEC));
      if (!target.valid() || fstat(target.get(), &opened) != 0) {
        throw EditError(kCannotOpen, errno);
      }
      if (!S_ISREG(opened.st_mode)) throw NotRegular(opened);
    }
    struct stat named;
    if (fstatat(dir.get(), file->name.c_str(), &named, AT_SYMLINK_NOFOLLOW) !=
        0) {
      throw EditError(kChanged, errno);
    }
    if (SameInode(named, opened)) {
      file->directory = std::move(dir);
      return true;
    }
    if (!S_ISLNK(named.st_mode)) return false;
    if (!ReadLink(dir.get(), file->name, &path)) break;
    base = std::move(dir);
  }
  throw EditError(kChanged);
}

// As LocateOnce, again while another edit puts a new file in place of the
// one opened: then that is the file to edit.
void Locate(const std::string& name, TagFile* file) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (LocateOnce(name, file)) return;
  }
  throw EditError(kChanged);
}

// Opens the regular file of that name for reading; a link put there since is
// not followed, and nothing else is opened at all: opening a FIFO would
// release its blocked writer.
UniqueFd OpenNamed(const TagFile& file, struct stat* status) {
  int dir = file.directory.get();
  const char* name = file.name.c_str();
  if (fstatat(dir, name, status, AT_SYMLINK_NOFOLLOW) != 0) {
    throw EditError(kCannotOpen, errno);
  }
  if (!S_ISREG(status->st_mode)) throw NotRegular(*status);
  UniqueFd fd(
      openat(dir, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid() || fstat(fd.get(), status) != 0) {
    throw EditError(kCannotOpen, errno);
  }
  if (!S_ISREG(status->st_mode)) throw NotRegular(*status);
  return fd;
}

// No insert makes more room than the largest tag, its padding and a block.
constexpr uint64_t kLargestRoom = kV2SizeLimit + (uint64_t{1} << 20);
constexpr uint64_t kApeFooterSize = 32;

// A file's bytes as its tags are looked for: its first chunk and its last
// bytes are read once, and all that lies within them is taken from there.
class Bytes {
 public:
  Bytes(int fd, uint64_t size) : fd_(fd), size_(size) {
    uint64_t tail = std::min(size, kV1Size + kApeFooterSize);
    if (!ReadAt(fd, 0, std::min<uint64_t>(size, kChunk), &head_) ||
        !ReadAt(fd, size - tail, tail, &tail_)) {
      throw EditError(kCannotOpen, errno);
    }
  }
  // Reads `length` bytes at `offset`; false past the end of the file.
  bool Read(uint64_t offset, uint64_t length, std::string* bytes) const {
    if (offset + length <= head_.size()) {
      *bytes = head_.substr(offset, length);
    } else if (offset >= size_ - tail_.size() && offset + length <= size_) {
      *bytes = tail_.substr(offset - (size_ - tail_.size()), length);
    } else {
      return ReadAt(fd_, offset, length, bytes);
    }
    return true;
  }
  bool StartsWithZero() const { return !head_.empty() && head_[0] == 0; }

 private:
  int fd_;
  uint64_t size_;
  std::string head_, tail_;
};

// The whole blocks of zeros at the start of the file, where a tag or MPEG
// audio follows them: what an insert stopped before it wrote the tag leaves.
// Other zeros, as an ISO image starts with, are no room of ours.
uint64_t ZeroBlocks(const TagFile& file, const Bytes& bytes_of_file) {
  if (!bytes_of_file.StartsWithZero()) return 0;
  uint64_t block = file.status.st_blksize;
  uint64_t scanned = std::min(file.size, kLargestRoom + block);
  uint64_t zeros = SkipZeros(file.fd.get(), 0, scanned) / block * block;
  std::string bytes;
  if (zeros == 0 || zeros > kLargestRoom ||
      !bytes_of_file.Read(zeros, std::min(file.size - zeros, kV2HeaderSize),
                          &bytes) ||
      (V2TagSize(bytes) == 0 && !IsMpegFrameHeader(bytes))) {
    return 0;
  }
  return zeros;
}

// The length of what other taggers append at the end of the file, behind
// the ID3v1 tag: an APEv2 tag, a Lyrics3v2 block or an ID3v2 tag with a
// footer; 0 for none.
uint64_t AppendedLength(const TagFile& file, const Bytes& bytes) {
  std::string end;
  if (file.size < kApeFooterSize ||
      !bytes.Read(file.size - kApeFooterSize, kApeFooterSize, &end)) {
    return 0;
  }
  auto little_endian = [&](size_t at) {
    uint64_t value = 0;
    for (size_t i = 4; i-- > 0;) {
      value = (value << 8) | static_cast<unsigned char>(end[at + i]);
    }
    return value;
  };
  if (end.compare(0, 8, "APETAGEX") == 0) {
    bool has_header = (end[23] & 0x80) != 0;
    return little_endian(12) + (has_header ? kApeFooterSize : 0);
  }
  if (end.compare(end.size() - 9, 9, "LYRICS200") == 0) {
    std::string digits = end.substr(end.size() - 15, 6);
    if (digits.find_first_not_of("0123456789") == std::string::npos) {
      return std::stoull(digits) + 15;
    }
  }
  std::string footer = end.substr(end.size() - kV2HeaderSize);
  if (footer.compare(0, 3, "3DI") == 0) {
    uint64_t size = V2TagSize("ID3" + footer.substr(3));
    return size == 0 ? 0 : size + kV2HeaderSize;
  }
  return 0;
}

// Finds the ID3v1 tag of `file`: in its last 128 bytes, or right before what
// other taggers append.
void FindV1(TagFile* file, const Bytes& bytes_of_file) {
  file->v1_at = file->size;
  uint64_t room = file->size - file->audio_begin();
  for (uint64_t behind : {uint64_t{0}, AppendedLength(*file, bytes_of_file)}) {
    std::string bytes;
    if (room >= behind + kV1Size &&
        bytes_of_file.Read(file->size - behind - kV1Size, kV1Size, &bytes) &&
        bytes.compare(0, kV1MagicSize, kV1Magic) == 0) {
      file->v1_tag = bytes;
      file->v1_at = file->size - behind - kV1Size;
      return;
    }
  }
  // What a kill left of an append is no audio: the next append goes over it.
  std::string tail;
  uint64_t length = std::min(room, kV1Size);
  if (bytes_of_file.Read(file->size - length, length, &tail)) {
    file->v1_at -= TornV1Length(file->size, tail);
    file->torn_v1 = tail.substr(tail.size() - (file->size - file->v1_at));
  }
}

// Finds and reads the tags of the regular file open as `file->fd`.
void ReadTags(TagFile* file) {
  file->size = file->status.st_size;
  Bytes bytes(file->fd.get(), file->size);
  file->zero_blocks = ZeroBlocks(*file, bytes);
  std::string header;
  // Fewer bytes than a header hold no tag.
  if (!bytes.Read(file->zero_blocks,
                  std::min(file->size - file->zero_blocks, kV2HeaderSize),
                  &header)) {
    throw EditError(kCannotOpen, errno);
  }
  uint64_t tag_size = V2TagSize(header);
  // A v2.4 footer belongs to the tag where there is one behind the frames.
  std::string footer;
  if (tag_size > 0 && header[3] == 4 && (header[5] & kFooter) != 0 &&
      bytes.Read(file->zero_blocks + tag_size, 3, &footer) && footer == "3DI") {
    tag_size += kV2HeaderSize;
  }
  // Taking the audio for tag would drop it on the next write.
  if (tag_size > file->size - file->zero_blocks) throw EditError(kCannotRead);
  if (!bytes.Read(file->zero_blocks, tag_size, &file->v2_tag)) {
    throw EditError(kCannotOpen, errno);
  }
  FindV1(file, bytes);
}

}  // namespace

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool TagFile::writable() const {
  return (fcntl(fd.get(), F_GETFL) & O_ACCMODE) == O_RDWR;
}

bool Unchanged(const TagFile& file) {
  struct stat now;
  return fstat(file.fd.get(), &now) == 0 &&
         now.st_size == file.status.st_size &&
         now.st_mtim.tv_sec == file.status.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == file.status.st_mtim.tv_nsec;
}

bool StillNamed(const TagFile& file, const std::string& name) {
  struct stat named;
  return fstatat(file.directory.get(),
                 (name.empty() ? file.name : name).c_str(), &named,
                 AT_SYMLINK_NOFOLLOW) == 0 &&
         SameInode(named, file.status);
}

TagFile OpenTagFile(const std::string& name,
                    std::chrono::milliseconds lock_wait) {
  TagFile file;
  Locate(name, &file);
  // Another edit may rename a new file over this one while this edit waits
  // for the lock; then the new file is the one to edit, once this one's lock
  // is let go.
  for (int attempt = 0;; ++attempt) {
    file.fd = OpenNamed(file, &file.status);
    LockExclusively(file.fd.get(), name, lock_wait);
    if (StillNamed(file)) break;
    file.fd.Reset();
    if (attempt == 3) throw EditError(kChanged);
  }
  // What the edit reads is the file as the last editor left it; what it is
  // is learned before it is opened for writing, which has effects of its own
  // (an overlay copies the file up).
  if (fstat(file.fd.get(), &file.status) != 0)
    throw EditError(kCannotOpen, errno);
  ReadTags(&file);
  if (!HoldsMpegAudio(file.fd.get(), file.audio_begin(), file.audio_end())) {
    throw EditError(kNotMp3);
  }
  UniqueFd writer(openat(file.directory.get(), file.name.c_str(),
                         O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat status;
  file.write_error = errno;
  if (writer.valid()) {
    if (fstat(writer.get(), &status) != 0 || !SameInode(status, file.status)) {
      throw EditError(kChanged);
    }
    file.lock = std::move(file.fd);
    file.fd = std::move(writer);
  }
  return file;
}

TagFile ReadTagFile(const std::string& name) {
  TagFile file;
  // A listing writes nothing, and opens nothing but a regular file, for
  // opening a FIFO releases its writer.
  Locate(name, &file);
  file.fd = OpenNamed(file, &file.status);
  ReadTags(&file);
  return file;
}

}  // namespace tagedit
