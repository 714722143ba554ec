#include "tagedit/isolated_render.h"

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

namespace tagedit {

namespace {

constexpr rlim_t kCpuSeconds = 20;
constexpr rlim_t kMemoryBytes = rlim_t{2} << 30;
constexpr size_t kV1Size = 128;

// What the child reports ahead of the tags.
enum Verdict : char {
  kRendered = 'K',
  kUnknownVersion = 'U',
  kUnreadable = 'R'
};

std::string Render(const ID3_Tag& tag, ID3_TagType type) {
  std::ostringstream bytes;
  ID3_OStreamWriter writer(bytes);
  tag.Render(writer, type);
  return bytes.str();
}

// The library always pads its rendering for a file of its own; the frames are
// rendered one by one to learn where that padding starts.
bool StripPadding(const ID3_Tag& tag, std::string* v2) {
  std::ostringstream bytes;
  ID3_OStreamWriter writer(bytes);
  // The iterator's class has no virtual destructor, so it cannot be deleted
  // safely; it lives as long as the child, which ends right after.
  ID3_Tag::ConstIterator* frames = tag.CreateIterator();
  while (const ID3_Frame* frame = frames->GetNext()) frame->Render(writer);
  std::string body = bytes.str();
  if (v2->empty()) return body.empty();
  if (v2->size() < 10 + body.size() ||
      v2->compare(10, body.size(), body) != 0 ||
      v2->find_first_not_of('\0', 10 + body.size()) != std::string::npos) {
    return false;
  }
  v2->resize(10 + body.size());
  return true;
}

std::string ChildReply(const TagFile& file,
                       const std::vector<FieldEdit>& edits) {
  // Through the descriptor the parent opened, the library reads the very file
  // that was checked, even if the name has been moved since.
  std::string name = "/proc/self/fd/" + std::to_string(file.fd.get());
  ID3_Tag tag(name.c_str());
  if (tag.HasV2Tag() && tag.GetSpec() == ID3V2_UNKNOWN) {
    return std::string(1, kUnknownVersion);
  }
  uint64_t library_v2_size = tag.HasV2Tag() ? tag.GetPrependedBytes() : 0;
  if (library_v2_size != file.v2_size) return std::string(1, kUnreadable);
  for (const FieldEdit& edit : edits) edit.field->apply(tag, edit.value);
  // Unsynchronisation changes the frame bytes and no current player needs it.
  tag.SetUnsync(false);
  std::string v2 = Render(tag, ID3TT_ID3V2);
  std::string v1 = Render(tag, ID3TT_ID3V1);
  if (!StripPadding(tag, &v2) || v1.size() != kV1Size) {
    return std::string(1, kUnreadable);
  }
  // The ID3v1 tag has a fixed size, so the ID3v2 tag is simply the rest.
  return char{kRendered} + v1 + v2;
}

[[noreturn]] void RunChild(const TagFile& file,
                           const std::vector<FieldEdit>& edits, int out) {
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
    reply = ChildReply(file, edits);
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

RenderedTags RenderEditedTags(const TagFile& file,
                              const std::vector<FieldEdit>& edits) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw EditError(kCannotRead);
  UniqueFd in(pipe_fds[0]);
  UniqueFd out(pipe_fds[1]);
  pid_t child = fork();
  if (child < 0) throw EditError(kCannotRead);
  if (child == 0) RunChild(file, edits, out.get());
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
      reply.empty()) {
    throw EditError(kCannotRead);
  }
  if (reply[0] == kUnknownVersion) throw EditError(kUnsupportedVersion);
  if (reply[0] != kRendered || reply.size() < 1 + kV1Size) {
    throw EditError(kCannotRead);
  }
  return {reply.substr(1 + kV1Size), reply.substr(1, kV1Size)};
}

}  // namespace tagedit
