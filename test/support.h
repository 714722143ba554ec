#ifndef TEST_SUPPORT_H_
#define TEST_SUPPORT_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// `count` MPEG audio frames of `length` bytes behind `header` (by default
// MPEG-1 layer III, 128 kbit/s, 44.1 kHz); no payload byte is 0xFF, so no
// false sync or tag marker occurs.
std::string Mpeg(size_t count,
                 const std::string& header = std::string("\xFF\xFB\x90\0", 4),
                 size_t length = 417);

// A frame of ID3v2.`major` (v2.2 for a 3-character id) with header `flags`.
std::string Frame(const std::string& id, const std::string& data, int flags = 0,
                  int major = 3);
// A text frame holding ISO-8859-1 `text`.
std::string Text(const std::string& id, const std::string& text, int major = 3);
// An ID3v2.`major` tag with header `flags` around `body`, then `padding`
// zero bytes.
std::string Id3v2(int major, const std::string& body, size_t padding = 0,
                  int flags = 0);
// An ID3v1 tag: title, artist, album, year and comment (as many as given),
// ID3v1.1's track number unless it is 0, and the genre.
std::string Id3v1(const std::vector<std::string>& texts, int track, int genre);

// Read without the product's code: the size of the ID3v2 tag at the start of
// `file`, header included, or 0; its frames as stored, without padding; and
// the bytes between it and an ID3v1 tag.
size_t V2TagSize(const std::string& file);
std::string Frames(const std::string& file);
std::string AudioOf(const std::string& file);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Edits `file` with the groups `words` through the library; its new bytes.
std::string Edit(const std::string& file,
                 const std::vector<std::string>& words);

// A fresh directory anyone may enter, removed with all it holds.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp");
  ~TempDir();
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }
  const std::string& path() const { return path_; }
  std::vector<std::string> Names() const;  // sorted

 private:
  std::string path_;
};

struct RunResult {
  std::string out;
  std::string err;
  int status;  // exit status, or 128 + signal number
};
// Runs the built binary with `args` after word 0; `in_child` runs in the
// child just before exec, for limits and credentials.
RunResult RunTagwell(const std::vector<std::string>& args,
                     const std::function<void()>& in_child = nullptr);
// Starts the binary as RunTagwell does, its output going to the files `out`
// and `err`; returns its pid.
pid_t StartTagwell(const std::vector<std::string>& args,
                   const std::string& out = "/dev/null",
                   const std::string& err = "/dev/null",
                   const std::function<void()>& in_child = nullptr);
// Waits for `pid`; its exit status, or 128 + signal number.
int ExitStatus(pid_t pid);

}  // namespace testing_support

#endif  // TEST_SUPPORT_H_
