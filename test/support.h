#ifndef TEST_SUPPORT_H_
#define TEST_SUPPORT_H_

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tagedit/tag_edit.h"

namespace testing_support {

using namespace std::string_literals;  // NOLINT(build/namespaces)

// `value` as `bytes` big-endian bytes of `bits` bits each.
inline std::string BigEndian(size_t value, int bytes, int bits = 8) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i)
    out += static_cast<char>(value >> bits * i & ((1 << bits) - 1));
  return out;
}

inline size_t ReadSize(const std::string& bytes, size_t at, int count,
                       int bits) {
  size_t value = 0;
  for (int i = 0; i < count; ++i)
    value = value << bits | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// `count` MPEG audio frames of `length` bytes behind `header` (by default
// MPEG-1 layer III, 128 kbit/s, 44.1 kHz); no payload byte is 0xFF, so no
// false sync or tag marker occurs.
inline std::string Mpeg(size_t count,
                        const std::string& header = "\xFF\xFB\x90\0"s,
                        size_t length = 417) {
  std::mt19937 random(1);
  std::string frames;
  for (size_t i = 0; i < count; ++i) {
    frames += header;
    for (size_t k = 4; k < length; ++k) frames += char(random() % 0xFF);
  }
  return frames;
}

// A frame of ID3v2.`major` (v2.2 for a 3-character id) with header `flags`.
inline std::string Frame(const std::string& id, const std::string& data,
                         int flags = 0, int major = 3) {
  if (id.size() == 3) return id + BigEndian(data.size(), 3) + data;
  return id + BigEndian(data.size(), 4, major == 4 ? 7 : 8) +
         BigEndian(flags, 2) + data;
}

// `data` as a compressed v2.3 frame holds it: its size, then zlib's stream.
inline std::string Compressed(const std::string& data) {
  uLongf size = compressBound(data.size());
  std::string stream(size, '\0');
  compress(reinterpret_cast<Bytef*>(&stream[0]), &size,
           reinterpret_cast<const Bytef*>(data.data()), data.size());
  return BigEndian(data.size(), 4) + stream.substr(0, size);
}

// A text frame holding ISO-8859-1 `text`.
inline std::string Text(const std::string& id, const std::string& text,
                        int major = 3) {
  return Frame(id, '\0' + text, 0, major);
}

// An ID3v2.`major` tag with header `flags` around `body`, then `padding`
// zero bytes.
inline std::string Id3v2(int major, const std::string& body, size_t padding = 0,
                         int flags = 0) {
  return "ID3" + BigEndian(major << 16 | flags, 3) +
         BigEndian(body.size() + padding, 4, 7) + body +
         std::string(padding, '\0');
}

// An ID3v1 tag: title, artist, album, year and comment (as many as given),
// ID3v1.1's track number unless it is 0, and the genre.
inline std::string Id3v1(const std::vector<std::string>& texts, int track,
                         int genre) {
  std::string tag = "TAG" + std::string(125, '\0');
  const size_t at[] = {3, 33, 63, 93, 97};
  for (size_t i = 0; i < texts.size(); ++i)
    tag.replace(at[i], texts[i].size(), texts[i]);
  if (track != 0) tag[126] = static_cast<char>(track);
  tag[127] = static_cast<char>(genre);
  return tag;
}

// Read without the product's code: the size of the ID3v2 tag at the start of
// `file`, header included, or 0.
inline size_t V2TagSize(const std::string& file) {
  bool tag = file.compare(0, 3, "ID3") == 0 && file[3] != '\xFF' &&
             file[4] != '\xFF' && (ReadSize(file, 6, 4, 8) & 0x80808080) == 0;
  return tag ? 10 + ReadSize(file, 6, 4, 7) : 0;
}

// The frames of that tag as stored, without padding; "no tag" without one.
inline std::string Frames(const std::string& file) {
  if (V2TagSize(file) == 0) return "no tag";
  size_t id_size = file[3] == 2 ? 3 : 4, header = file[3] == 2 ? 6 : 10;
  size_t at = 10;
  while (at + header <= V2TagSize(file) && file[at] != 0)
    at += header + ReadSize(file, at + id_size, id_size, file[3] == 4 ? 7 : 8);
  return file.substr(10, at - 10);
}

// The bytes between that tag and an ID3v1 tag.
inline std::string AudioOf(const std::string& file) {
  size_t begin = V2TagSize(file), end = file.size();
  if (end >= begin + 128 && file.compare(end - 128, 3, "TAG") == 0) end -= 128;
  return file.substr(begin, end - begin);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Edits `file` with the groups `words` through the library; its new bytes.
inline std::string Edit(const std::string& file,
                        const std::vector<std::string>& words) {
  tagedit::ArgumentList args{"tagwell", file};
  args.insert(args.end(), words.begin(), words.end());
  tagedit::SummaryText summary;
  tagedit::ApplyTagEdits(args, summary);
  return ReadFile(file);
}

// A fresh directory anyone may enter, removed with all it holds.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp")
      : path_(parent + "/tagwell-test-XXXXXX") {
    if (mkdtemp(path_.data()) == nullptr) std::abort();
    chmod(path_.c_str(), 0777);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }
  size_t Entries() const {  // how many files it holds
    auto entries = std::filesystem::directory_iterator(path_);
    return std::distance(begin(entries), end(entries));
  }

 private:
  std::string path_;
};

// Starts the built binary with `args` after word 0, its output going to the
// files `out` and `err`; `in_child` runs in the child just before exec, for
// limits and credentials. Returns its pid. It runs from a copy that the user
// "nobody" may run too.
inline pid_t StartTagwell(const std::vector<std::string>& args,
                          const std::string& out = "/dev/null",
                          const std::string& err = "/dev/null",
                          const std::function<void()>& in_child = nullptr) {
  static TempDir dir;
  static std::string binary = dir / "tagwell";
  [[maybe_unused]] static bool copied =
      std::filesystem::copy_file(TAGWELL_BINARY, binary);
  std::vector<char*> argv{binary.data()};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.data()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "w", stdout) ||
        !freopen(err.c_str(), "w", stderr)) {
      _exit(127);
    }
    if (in_child) in_child();
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for `pid`; its exit status, or 128 + signal number.
inline int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A limit of `value` on `resource` for the child: a file size, as a nearly
// full disk imposes (the binary must survive the signal that comes with it on
// its own), or the memory it may take.
inline std::function<void()> Limit(int resource, rlim_t value) {
  const rlimit limit{value, value};
  return [resource, limit] { setrlimit(resource, &limit); };
}

struct RunResult {
  std::string out, err;
  int status;  // exit status, or 128 + signal number
};
// Runs the binary as StartTagwell does and waits for it.
inline RunResult RunTagwell(const std::vector<std::string>& args,
                            const std::function<void()>& in_child = nullptr) {
  static TempDir output;
  int status =
      ExitStatus(StartTagwell(args, output / "out", output / "err", in_child));
  return {ReadFile(output / "out"), ReadFile(output / "err"), status};
}

}  // namespace testing_support

#endif  // TEST_SUPPORT_H_
