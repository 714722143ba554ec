#ifndef TAGEDIT_FILE_IO_H_
#define TAGEDIT_FILE_IO_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tagedit {

// How much a scan or a copy reads at a time, so that memory does not grow
// with the file.
inline constexpr size_t kChunk = 65536;

// Reads exactly `length` bytes at `offset` of `fd`; false on any shortfall.
bool ReadAt(int fd, uint64_t offset, size_t length, std::string* bytes);

// Writes all of `bytes` at `offset` of `fd`; false on any shortfall.
bool WriteAt(int fd, uint64_t offset, const std::string& bytes);

// Where the first byte of `fd` that is not zero lies, from `offset` on and
// before `limit`; `limit` when there is none. Holes are skipped, not read, and
// memory stays at one chunk.
uint64_t SkipZeros(int fd, uint64_t offset, uint64_t limit);

}  // namespace tagedit

#endif  // TAGEDIT_FILE_IO_H_
