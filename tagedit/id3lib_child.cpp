#include "tagedit/id3lib_child.h"

#include <fcntl.h>
#include <id3/tag.h>
#include <id3/writers.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"
#include "tagedit/unique_fd.h"

namespace tagedit {

namespace {

constexpr rlim_t kCpuSeconds = 20;
constexpr rlim_t kMemoryBytes = rlim_t{2} << 30;
// Ahead of the frames, so that an empty frame list is told from a failure.
constexpr char kRendered = 'K';

std::string ChildReply(const std::vector<FieldEdit>& edits) {
  ID3_Tag tag;
  for (const FieldEdit& edit : edits) edit.field->apply(tag, edit.value);
  std::ostringstream bytes;
  ID3_OStreamWriter writer(bytes);
  // The iterator's class has no virtual destructor, so it cannot be deleted
  // safely; it lives as long as the child, which ends right after.
  ID3_Tag::Iterator* frames = tag.CreateIterator();
  while (ID3_Frame* frame = frames->GetNext()) frame->Render(writer);
  return kRendered + bytes.str();
}

[[noreturn]] void RunChild(const std::vector<FieldEdit>& edits, int out) {
  // Nothing but the reply may leave the child: no messages from the C
  // library's abort path, no core file, no file written.
  int null = open("/dev/null", O_RDWR);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);
  const std::pair<int, rlim_t> limits[] = {{RLIMIT_CPU, kCpuSeconds},
                                           {RLIMIT_AS, kMemoryBytes},
                                           {RLIMIT_CORE, 0},
                                           {RLIMIT_FSIZE, 0}};
  for (const auto& [resource, value] : limits) {
    rlimit limit{value, value};
    setrlimit(resource, &limit);
  }
  std::string reply;
  try {
    reply = ChildReply(edits);
  } catch (...) {
    _exit(1);
  }
  for (size_t done = 0; done < reply.size();) {
    ssize_t n = write(out, reply.data() + done, reply.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(1);
    done += n;
  }
  _exit(0);
}

}  // namespace

std::string RenderFrames(const std::vector<FieldEdit>& edits) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw EditError(kCannotRead);
  UniqueFd in(pipe_fds[0]);
  UniqueFd out(pipe_fds[1]);
  pid_t child = fork();
  if (child < 0) throw EditError(kCannotRead);
  if (child == 0) RunChild(edits, out.get());
  out.Reset();

  std::string reply;
  char buffer[65536];
  ssize_t n;
  while ((n = read(in.get(), buffer, sizeof buffer)) != 0) {
    if (n > 0) {
      reply.append(buffer, n);
    } else if (errno != EINTR) {
      break;
    }
  }
  in.Reset();
  int status = 0;
  pid_t waited;
  while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (waited != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      reply.empty() || reply[0] != kRendered) {
    throw EditError(kCannotRead);
  }
  return reply.substr(1);
}

}  // namespace tagedit
