#include "tagedit/file_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tagedit {

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

uint64_t SkipZeros(int fd, uint64_t offset, uint64_t limit) {
  std::string bytes;
  while (offset < limit) {
    // Where the file system cannot tell holes, every byte is data.
    off_t data = lseek(fd, offset, SEEK_DATA);
    if (data < 0 && errno == ENXIO) return limit;  // a hole to the end
    if (data >= 0) offset = data;
    if (offset >= limit) return limit;
    size_t length = std::min<uint64_t>(kChunk, limit - offset);
    if (!ReadAt(fd, offset, length, &bytes)) return offset;
    size_t nonzero = bytes.find_first_not_of('\0');
    if (nonzero != std::string::npos) return offset + nonzero;
    offset += length;
  }
  return limit;
}

}  // namespace tagedit
