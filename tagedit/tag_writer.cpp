#include "tagedit/tag_writer.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tagedit/edit_error.h"
#include "tagedit/file_io.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"

namespace tagedit {

namespace {

// Padding a new or grown tag keeps, so that the next edits fit in place.
constexpr uint64_t kMinPadding = 1024;
// From this much audio on, a grown tag gets room inserted in front of the
// audio instead of a copy of the file, and a shrunk one keeps its room.
constexpr uint64_t kLargeFile = uint64_t{32} << 20;

// Holds off SIGINT, SIGTERM and SIGHUP while the file is between states; one
// that arrives meanwhile is delivered when the block ends.
class SignalBlock {
 public:
  SignalBlock() {
    sigemptyset(&signals_);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, signal);
    sigprocmask(SIG_BLOCK, &signals_, &old_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

  // Whether one of the signals is waiting to end the process.
  bool Pending() const {
    sigset_t pending;
    sigpending(&pending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      if (sigismember(&pending, signal)) return true;
    }
    return false;
  }

 private:
  sigset_t signals_;
  sigset_t old_;
};

// Where a rewrite names its new file just before renaming it over the old
// one, and where the file system cannot make unnamed files; the next edit of
// the file removes what a crash left there.
std::string TempName(const TagFile& file) {
  return "." + file.name + ".tagwell";
}

// Puts the file back as it was, once its audio is back where it was.
void PutBack(const TagFile& file) {
  int fd = file.fd.get();
  std::string zeros;
  for (uint64_t at = 0; at < file.zero_blocks; at += zeros.size()) {
    zeros.assign(std::min<uint64_t>(kChunk, file.zero_blocks - at), '\0');
    WriteAt(fd, at, zeros);
  }
  WriteAt(fd, file.zero_blocks, file.v2_tag);
  WriteAt(fd, file.v1_at, file.v1_tag);
  (void)ftruncate(fd, file.size);
  (void)fsync(fd);
}

// Same-size tags overwrite the old ones.
void WriteInPlace(const TagFile& file, const std::string& v2,
                  const std::string& v1) {
  int fd = file.fd.get();
  SignalBlock block;
  // The ID3v1 tag goes first: appending it is the one write that can run out
  // of room, and then nothing else has changed yet.
  if (WriteAt(fd, file.v1_at, v1) && WriteAt(fd, 0, v2) && fsync(fd) == 0) {
    return;
  }
  PutBack(file);
  throw EditError(kCannotWrite);
}

// Makes room for a larger tag by inserting whole blocks at the front of the
// file, which moves no audio and needs no space for a copy; returns false
// when the file system cannot, and then nothing has changed.
bool InsertRoom(const TagFile& file, const std::string& v2,
                const std::string& v1) {
  uint64_t block = file.status.st_blksize;
  // The new tag fits in the room, and the old one becomes its padding: so the
  // old tag is overwritten only once the new one is complete.
  uint64_t room = (v2.size() + kMinPadding + block - 1) / block * block;
  if (room + file.v2_room() - kV2HeaderSize >= kV2SizeLimit) return false;
  std::string tag = PadV2(v2, room);
  tag.replace(6, 4, SyncSafe(room + file.v2_room() - kV2HeaderSize));
  int fd = file.fd.get();
  uint64_t v1_at = file.v1_at + room;
  bool appends_v1 = file.v1_tag.empty();
  SignalBlock signals;
  if (fallocate(fd, FALLOC_FL_INSERT_RANGE, 0, room) != 0) return false;
  // Until the tag is written, taking the room out again restores the file;
  // a crash leaves zero blocks in front of the old tag, which the next edit
  // takes for tag room.
  if ((!appends_v1 || WriteAt(fd, v1_at, v1)) && WriteAt(fd, 0, tag)) {
    bool written = WriteAt(fd, room + file.zero_blocks,
                           std::string(file.v2_tag.size(), '\0')) &&
                   (appends_v1 || WriteAt(fd, v1_at, v1)) && fsync(fd) == 0;
    if (!written) throw EditError(kCannotWrite);
    return true;
  }
  if (fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, 0, room) == 0) {
    (void)ftruncate(fd, file.size);  // what of the ID3v1 tag got written
    (void)fsync(fd);
  }
  throw EditError(kCannotWrite);
}

// Copies all behind the ID3v2 tag to `to` at `offset` through a bounded
// buffer, so memory does not grow with the file.
bool CopyAudio(const TagFile& file, int to, uint64_t offset,
               const SignalBlock& block) {
  std::string buffer;
  for (uint64_t at = file.audio_begin(); at < file.size;) {
    if (block.Pending()) return false;
    size_t length = std::min<uint64_t>(kChunk, file.size - at);
    if (!ReadAt(file.fd.get(), at, length, &buffer) ||
        !WriteAt(to, offset, buffer)) {
      return false;
    }
    at += length;
    offset += length;
  }
  return true;
}

// A complete new file in the old one's directory, renamed over it once it is
// safely on disk, and only while the name still refers to the old file: at
// every moment the name holds the old file or the new one.
void Rewrite(const TagFile& file, const std::string& v2,
             const std::string& v1) {
  int dir = file.directory.get();
  std::string temp = TempName(file);
  SignalBlock block;
  // Unnamed until it is complete, so that a crash leaves nothing behind.
  mode_t mode = file.status.st_mode & 07777;
  UniqueFd fd(openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  bool named = !fd.valid();
  if (named) {
    fd = UniqueFd(openat(dir, temp.c_str(),
                         O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
  }
  if (!fd.valid()) throw EditError(kCannotWrite);
  // Owner before mode: a change of owner clears the set-user-ID bits. Where
  // the owner may not be given, the new file stays the caller's and only the
  // group is tried; what cannot be given stays the caller's.
  if (fchown(fd.get(), file.status.st_uid, file.status.st_gid) != 0) {
    (void)fchown(fd.get(), geteuid(), file.status.st_gid);
  }
  std::string self = "/proc/self/fd/" + std::to_string(fd.get());
  bool written =
      fchmod(fd.get(), mode) == 0 && WriteAt(fd.get(), 0, v2) &&
      CopyAudio(file, fd.get(), v2.size(), block) &&
      WriteAt(fd.get(), v2.size() + file.v1_at - file.audio_begin(), v1) &&
      fsync(fd.get()) == 0 &&
      (named || linkat(AT_FDCWD, self.c_str(), dir, temp.c_str(),
                       AT_SYMLINK_FOLLOW) == 0) &&
      fd.Reset() && !block.Pending();
  bool changed = written && !Unchanged(file);
  if (!written || changed || !StillNamed(file) ||
      renameat(dir, temp.c_str(), dir, file.name.c_str()) != 0) {
    unlinkat(dir, temp.c_str(), 0);
    throw EditError(changed ? kChanged : kCannotWrite);
  }
  // The rename is durable once the directory is; the new file is in place
  // already, so a failure here is no reason to report the edit as failed.
  UniqueFd sync(openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (sync.valid()) fsync(sync.get());
}

}  // namespace

uint64_t ChooseV2Size(uint64_t needed, uint64_t old_v2_size,
                      uint64_t audio_size) {
  bool large = audio_size >= kLargeFile;
  if (needed == 0) return large ? old_v2_size : 0;
  if (old_v2_size >= needed && (large || old_v2_size - needed < 4096)) {
    return old_v2_size;
  }
  uint64_t file_size = needed + kMinPadding + audio_size + kV1Size;
  uint64_t padded = (file_size + 2047) / 2048 * 2048;
  return padded - audio_size - kV1Size;
}

std::string PadV2(const std::string& v2, uint64_t size) {
  if (size == 0) return {};
  // The header's size field holds 28 bits.
  if (size - kV2HeaderSize >= kV2SizeLimit) {
    throw EditError(kCannotWrite);
  }
  std::string tag = v2 + std::string(size - v2.size(), '\0');
  return tag.replace(6, 4, SyncSafe(size - kV2HeaderSize));
}

void WriteTags(const TagFile& file, const V2Tag& tag, const std::string& v1) {
  // A rename would replace a file the caller may not write all the same.
  if (!file.writable()) throw EditError(kCannotWrite);
  if (!Unchanged(file)) throw EditError(kChanged);
  unlinkat(file.directory.get(), TempName(file).c_str(), 0);
  std::string v2 = RenderV2Tag(tag);
  uint64_t audio_size = file.audio_end() - file.audio_begin();
  uint64_t size = ChooseV2Size(tag.frames.empty() ? 0 : v2.size(),
                               file.v2_room(), audio_size);
  if (size == file.v2_room()) {
    WriteInPlace(file, PadV2(v2, size), v1);
  } else if (audio_size < kLargeFile || !InsertRoom(file, v2, v1)) {
    Rewrite(file, PadV2(v2, size), v1);
  }
}

}  // namespace tagedit
