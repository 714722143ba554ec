#include "tagedit/id3lib_child.h"

#include <fcntl.h>
#include <id3/globals.h>
#include <id3/misc_support.h>
#include <id3/tag.h>
#include <id3/writers.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <sstream>

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"
#include "tagedit/text_encoding.h"
#include "tagedit/unique_fd.h"

namespace tagedit {

namespace {

constexpr rlim_t kCpuSeconds = 20;
// A child that sleeps or blocks uses no CPU time; this bounds it all the same.
constexpr auto kWallClock = std::chrono::seconds(30);
constexpr rlim_t kMemoryBytes = 2147483648;  // 2 GiB
// Ahead of the frames, so that an empty frame list is told from a failure.
constexpr char kRendered = 'K';
// How many bytes give the length of each list's frames in the reply.
constexpr size_t kLengthBytes = 4;

using TextHelper = ID3_Frame* (*)(ID3_Tag*, const char*, bool);
using RemoveHelper = size_t (*)(ID3_Tag*);
using Apply = void (*)(ID3_Tag& tag, const std::string& value);

// id3lib writes the little-endian byte-order mark but then each code unit high
// byte first, so the units are handed over swapped to land as the mark says.
std::vector<unicode_t> SwappedUnits(const std::u16string& units) {
  std::vector<unicode_t> swapped;
  for (char16_t unit : units) {
    swapped.push_back(static_cast<unicode_t>((unit >> 8) | (unit << 8)));
  }
  swapped.push_back(0);
  return swapped;
}

void StoreUtf16(ID3_Frame* frame, const std::u16string& units) {
  frame->GetField(ID3FN_TEXTENC)->Set(ID3TE_UTF16);
  // A comment's description is read in the frame's encoding too.
  if (ID3_Field* description = frame->GetField(ID3FN_DESCRIPTION)) {
    description->SetEncoding(ID3TE_UTF16);
  }
  ID3_Field* text = frame->GetField(ID3FN_TEXT);
  text->SetEncoding(ID3TE_UTF16);
  text->Set(SwappedUnits(units).data());
}

template <TextHelper add, RemoveHelper remove>
void ApplyText(ID3_Tag& tag, const std::string& value) {
  // The helpers ignore an empty text, which would leave an earlier group's
  // value behind.
  if (value.empty()) {
    remove(&tag);
    return;
  }
  FrameText text = EncodeFrameText(value);
  // A stand-in text makes the helper create the frame a UTF-16 value goes in.
  ID3_Frame* frame = add(&tag, text.utf16 ? "?" : text.latin1.c_str(), true);
  if (text.utf16) StoreUtf16(frame, text.units);
}

size_t RemoveComment(ID3_Tag* tag) { return ID3_RemoveComments(tag, ""); }

void ApplyTrack(ID3_Tag& tag, const std::string& value) {
  if (value.empty()) {
    ID3_RemoveTracks(&tag);
    return;
  }
  auto [number, total] = TrackNumber(value);
  ID3_AddTrack(&tag, number, total, true);
}

// How a value of each field reaches id3lib, by the field's name.
const std::pair<const char*, Apply> kHelpers[] = {
    {"tracknum", ApplyTrack},
    {"artist", ApplyText<ID3_AddArtist, ID3_RemoveArtists>},
    {"album", ApplyText<ID3_AddAlbum, ID3_RemoveAlbums>},
    {"title", ApplyText<ID3_AddTitle, ID3_RemoveTitles>},
    {"year", ApplyText<ID3_AddYear, ID3_RemoveYears>},
    {"comment", ApplyText<ID3_AddComment, RemoveComment>},
    {"genre", ApplyText<ID3_AddGenre, ID3_RemoveGenres>},
};

// Sets the field of `edit` in `tag` from its value as typed; an empty value
// removes the field.
void ApplyEdit(const FieldEdit& edit, ID3_Tag& tag) {
  for (const auto& [name, apply] : kHelpers) {
    if (std::string(name) == edit.field->name) apply(tag, edit.value);
  }
}

// The mark, then each list's frames, each behind its length in kLengthBytes
// bytes, so that the parent can split the reply.
std::string ChildReply(
    const std::vector<const std::vector<FieldEdit>*>& lists) {
  std::string reply(1, kRendered);
  for (const std::vector<FieldEdit>* edits : lists) {
    ID3_Tag tag;
    for (const FieldEdit& edit : *edits) ApplyEdit(edit, tag);
    std::ostringstream bytes;
    ID3_OStreamWriter writer(bytes);
    // The iterator's class has no virtual destructor, so it cannot be deleted
    // safely; it lives as long as the child, which ends right after.
    ID3_Tag::Iterator* frames = tag.CreateIterator();
    while (ID3_Frame* frame = frames->GetNext()) frame->Render(writer);
    std::string frame_list = bytes.str();
    for (int i = kLengthBytes - 1; i >= 0; --i) {
      reply += static_cast<char>(frame_list.size() >> (8 * i));
    }
    reply += frame_list;
  }
  return reply;
}

[[noreturn]] void RunChild(
    const std::vector<const std::vector<FieldEdit>*>& lists, int out,
    pid_t parent) {
  // An orphaned child would go on holding the file's lock.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(1);
  // Nothing but the reply may leave the child: no messages from the C
  // library's abort path, no core file, no file written, and no descriptor of
  // the file kept open.
  int null = open("/dev/null", O_RDWR);
  dup2(null, STDOUT_FILENO);
  dup2(null, STDERR_FILENO);
  dup2(out, STDIN_FILENO);
  out = STDIN_FILENO;
  close_range(STDERR_FILENO + 1, ~0U, 0);
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
    reply = ChildReply(lists);
  } catch (...) {
    _exit(1);
  }
  for (size_t done = 0; done < reply.size();) {
    ssize_t n = TEMP_FAILURE_RETRY(
        write(out, reply.data() + done, reply.size() - done));
    if (n <= 0) _exit(1);
    done += n;
  }
  _exit(0);
}

}  // namespace

int GenreNumber(const std::string& name) {
  for (int genre = 0; genre < ID3_NR_OF_V1_GENRES; ++genre) {
    // The list has "Christian Rock " with a blank at the end.
    std::string listed = ID3_v1_genre_description[genre];
    listed.erase(listed.find_last_not_of(' ') + 1);
    if (strcasecmp(name.c_str(), listed.c_str()) == 0) return genre;
  }
  return -1;
}

std::string RenderFrames(const std::vector<FieldEdit>& edits) {
  return RenderFrameLists({&edits})[0];
}

std::vector<std::string> RenderFrameLists(
    const std::vector<const std::vector<FieldEdit>*>& lists) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw EditError(kCannotRead);
  UniqueFd in(pipe_fds[0]);
  UniqueFd out(pipe_fds[1]);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child < 0) throw EditError(kCannotRead);
  if (child == 0) RunChild(lists, out.get(), parent);
  out.Reset();

  std::string reply;
  char buffer[PIPE_BUF];
  auto deadline = std::chrono::steady_clock::now() + kWallClock;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{in.get(), POLLIN, 0};
    // Out of time, a poll of no wait finds the reply complete or not.
    int polled = TEMP_FAILURE_RETRY(
        poll(&ready, 1, std::max<std::int64_t>(left.count(), 0)));
    ssize_t n = polled > 0
                    ? TEMP_FAILURE_RETRY(read(in.get(), buffer, sizeof buffer))
                    : -1;
    if (n == 0) break;
    if (n < 0) {
      // Out of time, or the pipe failed: the child is stopped for good.
      kill(child, SIGKILL);
      reply.clear();
      break;
    }
    reply.append(buffer, n);
  }
  in.Reset();
  int status;
  pid_t waited = TEMP_FAILURE_RETRY(waitpid(child, &status, 0));
  // An empty reply's [0] is its closing zero, not the mark.
  if (waited != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      reply[0] != kRendered) {
    throw EditError(kCannotRead);
  }
  std::vector<std::string> frame_lists;
  for (size_t at = 1; frame_lists.size() < lists.size();) {
    if (reply.size() - at < kLengthBytes) throw EditError(kCannotRead);
    size_t length = 0;
    for (size_t i = 0; i < kLengthBytes; ++i) {
      length = length << 8 | static_cast<unsigned char>(reply[at++]);
    }
    if (reply.size() - at < length) throw EditError(kCannotRead);
    frame_lists.push_back(reply.substr(at, length));
    at += length;
  }
  return frame_lists;
}

}  // namespace tagedit
