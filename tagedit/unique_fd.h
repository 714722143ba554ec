#ifndef TAGEDIT_UNIQUE_FD_H_
#define TAGEDIT_UNIQUE_FD_H_

#include <unistd.h>

#include <utility>

namespace tagedit {

// Owns a file descriptor and closes it when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = kNone) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, kNone); }
  // Closes the descriptor held and takes `fd`.
  void Reset(int fd = kNone) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  static constexpr int kNone = -1;
  int fd_;
};

}  // namespace tagedit

#endif  // TAGEDIT_UNIQUE_FD_H_
