#ifndef TAGEDIT_UNIQUE_FD_H_
#define TAGEDIT_UNIQUE_FD_H_

#include <unistd.h>

namespace tagedit {

// Owns a file descriptor and closes it when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held and takes `fd`; returns whether close succeeded.
  bool Reset(int fd = -1) {
    bool closed = fd_ < 0 || close(fd_) == 0;
    fd_ = fd;
    return closed;
  }

 private:
  int fd_;
};

}  // namespace tagedit

#endif  // TAGEDIT_UNIQUE_FD_H_
