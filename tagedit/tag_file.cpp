#include "tagedit/tag_file.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "tagedit/edit_error.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"
#include "tagedit/mpeg_audio.h"

namespace tagedit {

bool ReadAt(int fd, uint64_t offset, size_t length, std::string* bytes) {
  bytes->resize(length);
  size_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, bytes->data() + done, length - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

bool WriteAt(int fd, uint64_t offset, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

TagFile OpenTagFile(const std::string& name) {
  TagFile file;
  // The link's target is what gets tagged; the link itself stays a link.
  std::unique_ptr<char, decltype(&free)> real(realpath(name.c_str(), nullptr),
                                              &free);
  if (!real) throw EditError(kCannotOpen);
  file.path = real.get();
  // Without O_NONBLOCK, opening a FIFO would wait for a writer.
  file.fd =
      UniqueFd(open(file.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.fd.valid() || fstat(file.fd.get(), &file.status) != 0 ||
      !S_ISREG(file.status.st_mode)) {
    throw EditError(kCannotOpen);
  }
  file.size = file.status.st_size;

  std::string bytes;
  uint64_t v2_size = 0;
  if (file.size >= kV2HeaderSize) {
    if (!ReadAt(file.fd.get(), 0, kV2HeaderSize, &bytes)) {
      throw EditError(kCannotOpen);
    }
    v2_size = V2TagSize(bytes);
  }
  // Taking the audio for tag would drop it on the next write.
  if (v2_size > file.size) throw EditError(kCannotRead);
  if (!ReadAt(file.fd.get(), 0, v2_size, &file.v2)) {
    throw EditError(kCannotOpen);
  }
  if (file.size >= v2_size + kV1Size) {
    if (!ReadAt(file.fd.get(), file.size - kV1Size, kV1Size, &bytes)) {
      throw EditError(kCannotOpen);
    }
    if (bytes.compare(0, 3, "TAG") == 0) file.v1 = bytes;
  }
  if (!HoldsMpegAudio(file.fd.get(), file.audio_begin(), file.audio_end())) {
    throw EditError(kNotMp3);
  }
  return file;
}

}  // namespace tagedit
