#ifndef TEST_SUPPORT_H_
#define TEST_SUPPORT_H_

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// `count` MPEG audio frames of `length` bytes starting with `header` (by
// default MPEG-1 Layer III, 128 kbit/s, 44.1 kHz) whose payload bytes follow
// `seed`; no payload byte is 0xFF, so no false sync or tag marker occurs.
std::string MpegFrames(size_t count, unsigned seed = 1,
                       const std::string& header = std::string("\xFF\xFB\x90\0",
                                                               4),
                       size_t length = 417);

// A frame of ID3v2.`major` (v2.2 for a 3-character id): header with `flags`,
// then `payload`.
std::string Frame(const std::string& id, const std::string& payload,
                  int flags = 0, int major = 3);
// A v2.3 text frame holding ISO-8859-1 `text`.
std::string TextFrame(const std::string& id, const std::string& text);
// An ID3v2 tag of version 2.`major` with header `flags` around `frames`,
// padded with `padding` zero bytes.
std::string Id3v2(int major, const std::string& frames, size_t padding = 0,
                  int flags = 0);
// A 128-byte ID3v1 tag holding title, artist, album, year and comment (as
// many as given), and ID3v1.1's track number unless it is 0.
std::string Id3v1(const std::vector<std::string>& texts, int track, int genre);

// The frames of the ID3v2 tag at the start of `file` (syncsafe frame sizes in
// v2.4), as (id, payload) in
// file order; read independently of id3lib.
std::vector<std::pair<std::string, std::string>> RawFrames(
    const std::string& file);
// The payload of the only frame `id` in `file`; fails the test unless there is
// exactly one.
std::string RawFrame(const std::string& file, const std::string& id);
// The bytes of `file` between its ID3v2 tag and its ID3v1 tag.
std::string AudioOf(const std::string& file);
// The size of the ID3v2 tag at the start of `file`, header included, or 0.
size_t V2TagSize(const std::string& file);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A fresh directory, removed with all it holds on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp");
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const;
  // The names in the directory, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

struct RunResult {
  std::string out;
  std::string err;
  int status;  // exit status, or 128 + signal number
};

// A copy of the built binary in a directory anyone may enter, so that tests
// can run it as an unprivileged user wherever the build lives.
const std::string& TagwellBinary();

// Runs the tagwell binary with `args` after word 0; `in_child` runs in the
// child just before exec, for limits and credentials.
RunResult RunTagwell(const std::vector<std::string>& args,
                     const std::function<void()>& in_child = nullptr);

// Makes the calling process the unprivileged user "nobody"; false when that is
// impossible.
bool BecomeNobody();

}  // namespace testing_support

#endif  // TEST_SUPPORT_H_
