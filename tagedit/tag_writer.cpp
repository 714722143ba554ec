#include "tagedit/tag_writer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tagedit/edit_error.h"

namespace tagedit {

namespace {

constexpr uint64_t kHeaderSize = 10;
constexpr uint64_t kV1Size = 128;
constexpr size_t kCopyBuffer = 64 * 1024;

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

// Same-size tags overwrite the old ones. The old bytes are kept to be put back
// if a write fails half way.
void WriteInPlace(const TagFile& file, const std::string& v2,
                  const std::string& v1) {
  UniqueFd fd = OpenForWriting(file);
  std::string old_v2, old_v1;
  if (!ReadAt(file.fd.get(), 0, v2.size(), &old_v2) ||
      !ReadAt(file.fd.get(), file.audio_end(), file.v1_size, &old_v1)) {
    throw EditError(kCannotWrite);
  }
  SignalBlock block;
  // The ID3v1 tag goes first: appending it is the one write that can run out
  // of room, and then nothing else has changed yet.
  if (WriteAt(fd.get(), file.audio_end(), v1) && WriteAt(fd.get(), 0, v2) &&
      fsync(fd.get()) == 0) {
    return;
  }
  WriteAt(fd.get(), 0, old_v2);
  WriteAt(fd.get(), file.audio_end(), old_v1);
  if (ftruncate(fd.get(), file.size) == 0) fsync(fd.get());
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
  // Owner before mode: a change of owner clears the set-user-ID bits.
  if (fchown(fd.get(), file.status.st_uid, file.status.st_gid) != 0 &&
      fchown(fd.get(), -1, file.status.st_gid) != 0) {
    // Not permitted: the new file keeps the caller as its owner.
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
  if (old_v2_size >= needed && old_v2_size - needed < 4096) return old_v2_size;
  uint64_t file_size = needed + audio_size + kV1Size;
  // Like id3lib, a file that is already a multiple still gets 2 KiB more.
  uint64_t padded = (file_size / 2048 + 1) * 2048;
  return padded - audio_size - kV1Size;
}

std::string PadV2(const std::string& v2, uint64_t size) {
  if (size == 0) return {};
  // The header's size field holds 28 bits.
  if (size - kHeaderSize >= (uint64_t{1} << 28)) throw EditError(kCannotWrite);
  std::string tag = v2 + std::string(size - v2.size(), '\0');
  uint64_t body = size - kHeaderSize;
  for (int i = 0; i < 4; ++i) tag[6 + i] = (body >> (21 - 7 * i)) & 0x7F;
  return tag;
}

void WriteTags(const TagFile& file, const RenderedTags& tags) {
  uint64_t size = ChooseV2Size(tags.v2.size(), file.v2_size,
                               file.audio_end() - file.audio_begin());
  std::string v2 = PadV2(tags.v2, size);
  if (size == file.v2_size) {
    WriteInPlace(file, v2, tags.v1);
  } else {
    Rewrite(file, v2, tags.v1);
  }
}

}  // namespace tagedit
