#include "tagedit/tag_writer.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tagedit/edit_error.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"

namespace tagedit {

namespace {

constexpr size_t kCopyBuffer = 64 * 1024;
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

// Opens the file for writing, which is also the test of whether the caller may
// write it: a rename would replace a read-only file all the same.
UniqueFd OpenForWriting(const TagFile& file) {
  UniqueFd fd(open(file.path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!fd.valid()) throw EditError(kCannotWrite);
  return fd;
}

// Puts the file back as it was, once its audio is back where it was.
void PutBack(int fd, const TagFile& file) {
  WriteAt(fd, 0, file.v2);
  WriteAt(fd, file.audio_end(), file.v1);
  if (ftruncate(fd, file.size) == 0) fsync(fd);
}

// Same-size tags overwrite the old ones.
void WriteInPlace(const TagFile& file, const std::string& v2,
                  const std::string& v1) {
  UniqueFd fd = OpenForWriting(file);
  SignalBlock block;
  // The ID3v1 tag goes first: appending it is the one write that can run out
  // of room, and then nothing else has changed yet.
  if (WriteAt(fd.get(), file.audio_end(), v1) && WriteAt(fd.get(), 0, v2) &&
      fsync(fd.get()) == 0) {
    return;
  }
  PutBack(fd.get(), file);
  throw EditError(kCannotWrite);
}

// Makes room for a larger tag by inserting whole blocks at the front of the
// file, which moves no audio and needs no space for a copy; returns false
// when the file system cannot, and then nothing has changed.
bool InsertRoom(const TagFile& file, const std::string& v2,
                const std::string& v1) {
  uint64_t block = file.status.st_blksize;
  uint64_t room =
      (v2.size() + kMinPadding - file.v2.size() + block - 1) / block * block;
  std::string tag = PadV2(v2, file.v2.size() + room);
  UniqueFd fd = OpenForWriting(file);
  SignalBlock signals;
  if (fallocate(fd.get(), FALLOC_FL_INSERT_RANGE, 0, room) != 0) return false;
  if (WriteAt(fd.get(), 0, tag) &&
      WriteAt(fd.get(), file.audio_end() + room, v1) && fsync(fd.get()) == 0) {
    return true;
  }
  if (fallocate(fd.get(), FALLOC_FL_COLLAPSE_RANGE, 0, room) == 0) {
    PutBack(fd.get(), file);
  }
  throw EditError(kCannotWrite);
}

// Copies the audio to `to` at `offset` through a bounded buffer, so memory
// does not grow with the file.
bool CopyAudio(const TagFile& file, int to, uint64_t offset,
               const SignalBlock& block) {
  std::string buffer;
  for (uint64_t at = file.audio_begin(); at < file.audio_end();) {
    if (block.Pending()) return false;
    size_t length = std::min<uint64_t>(kCopyBuffer, file.audio_end() - at);
    if (!ReadAt(file.fd.get(), at, length, &buffer) ||
        !WriteAt(to, offset, buffer)) {
      return false;
    }
    at += length;
    offset += length;
  }
  return true;
}

// A complete new file next to the old one, renamed over it once it is safely
// on disk: at every moment the name holds the old file or the new one.
void Rewrite(const TagFile& file, const std::string& v2,
             const std::string& v1) {
  OpenForWriting(file);  // only to learn whether the caller may write it
  std::string directory = file.path.substr(0, file.path.rfind('/') + 1);
  std::string temp = directory + ".tagwell-XXXXXX";
  SignalBlock block;
  UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));
  if (!fd.valid()) throw EditError(kCannotWrite);
  // Owner before mode: a change of owner clears the set-user-ID bits. Where
  // the owner may not be given, the group alone is tried; else the new file
  // stays the caller's.
  if (fchown(fd.get(), file.status.st_uid, file.status.st_gid) != 0) {
    (void)fchown(fd.get(), -1, file.status.st_gid);
  }
  uint64_t audio_size = file.audio_end() - file.audio_begin();
  bool written = fchmod(fd.get(), file.status.st_mode & 07777) == 0 &&
                 WriteAt(fd.get(), 0, v2) &&
                 CopyAudio(file, fd.get(), v2.size(), block) &&
                 WriteAt(fd.get(), v2.size() + audio_size, v1) &&
                 fsync(fd.get()) == 0 && fd.Reset() && !block.Pending() &&
                 rename(temp.c_str(), file.path.c_str()) == 0;
  if (!written) {
    unlink(temp.c_str());
    throw EditError(kCannotWrite);
  }
  // The rename is durable once the directory is; the new file is in place
  // already, so a failure here is no reason to report the edit as failed.
  UniqueFd dir(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.valid()) fsync(dir.get());
}

}  // namespace

uint64_t ChooseV2Size(uint64_t needed, uint64_t old_v2_size,
                      uint64_t audio_size) {
  if (needed == 0) return 0;
  bool large = audio_size >= kLargeFile;
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
  if (size - kV2HeaderSize >= (uint64_t{1} << 28)) {
    throw EditError(kCannotWrite);
  }
  std::string tag = v2 + std::string(size - v2.size(), '\0');
  return tag.replace(6, 4, SyncSafe(size - kV2HeaderSize));
}

void WriteTags(const TagFile& file, const std::string& v2,
               const std::string& v1) {
  uint64_t audio_size = file.audio_end() - file.audio_begin();
  uint64_t size = ChooseV2Size(v2.size(), file.v2.size(), audio_size);
  if (size == file.v2.size()) {
    WriteInPlace(file, PadV2(v2, size), v1);
  } else if (audio_size < kLargeFile || v2.empty() ||
             !InsertRoom(file, v2, v1)) {
    Rewrite(file, PadV2(v2, size), v1);
  }
}

}  // namespace tagedit
