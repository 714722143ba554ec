#ifndef TAGEDIT_SIGNAL_BLOCK_H_
#define TAGEDIT_SIGNAL_BLOCK_H_

#include <signal.h>

namespace tagedit {

// Holds off SIGINT, SIGTERM and SIGHUP while files are between states; one
// that arrives meanwhile is delivered when the block ends, unless taken.
// Blocks nest, and a child process started meanwhile inherits the block.
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

  // Whether one of the signals waits to end the process.
  bool Pending() const {
    sigset_t pending;
    sigpending(&pending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      if (sigismember(&pending, signal)) return true;
    }
    return false;
  }

  // Takes the signal waiting, so that it is not delivered; its number, or 0.
  int Take() const {
    timespec now{0, 0};
    int signal = sigtimedwait(&signals_, nullptr, &now);
    return signal > 0 ? signal : 0;
  }

 private:
  sigset_t signals_;
  sigset_t old_;
};

}  // namespace tagedit

#endif  // TAGEDIT_SIGNAL_BLOCK_H_
