#include "tagedit/tag_file.h"

#include <fcntl.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "tagedit/edit_error.h"

namespace tagedit {

namespace {

// The size of the ID3v2 tag an ID3v2 header announces, header included, or 0
// when `header` is no ID3v2 header; the same test id3lib applies.
uint64_t V2TagSize(const std::string& header) {
  const unsigned char* h =
      reinterpret_cast<const unsigned char*>(header.data());
  if (header.compare(0, 3, "ID3") != 0 || h[3] == 0xFF || h[4] == 0xFF) {
    return 0;
  }
  uint64_t size = 0;
  for (int i = 6; i < 10; ++i) {
    if (h[i] >= 0x80) return 0;
    size = (size << 7) | h[i];
  }
  return 10 + size;
}

}  // namespace

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
  if (file.size >= 10) {
    if (!ReadAt(file.fd.get(), 0, 10, &bytes)) throw EditError(kCannotOpen);
    file.v2_size = V2TagSize(bytes);
  }
  // id3lib would take the whole audio for tag and drop it on the next write.
  if (file.v2_size > file.size) throw EditError(kCannotRead);
  if (file.size >= file.v2_size + 128) {
    if (!ReadAt(file.fd.get(), file.size - 128, 3, &bytes)) {
      throw EditError(kCannotOpen);
    }
    if (bytes == "TAG") file.v1_size = 128;
  }
  return file;
}

}  // namespace tagedit
