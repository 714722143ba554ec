#include "test/support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tagedit/tag_edit.h"

namespace testing_support {

namespace {

std::string BigEndian(size_t value, int bytes, int bits = 8) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i)
    out += static_cast<char>(value >> bits * i & ((1 << bits) - 1));
  return out;
}

size_t ReadSize(const std::string& bytes, size_t at, int count, int bits) {
  size_t value = 0;
  for (int i = 0; i < count; ++i)
    value = value << bits | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// A copy of the built binary that the user "nobody" may run too.
const std::string& Binary() {
  static TempDir dir;
  static const std::string path = [] {
    std::filesystem::copy_file(TAGWELL_BINARY, dir / "tagwell");
    return dir / "tagwell";
  }();
  return path;
}

}  // namespace

std::string Mpeg(size_t count, const std::string& header, size_t length) {
  std::mt19937 random(1);
  std::string frames;
  for (size_t i = 0; i < count; ++i) {
    frames += header;
    for (size_t k = 4; k < length; ++k)
      frames += static_cast<char>(random() % 0xFF);
  }
  return frames;
}

std::string Frame(const std::string& id, const std::string& data, int flags,
                  int major) {
  if (id.size() == 3) return id + BigEndian(data.size(), 3) + data;
  return id + BigEndian(data.size(), 4, major == 4 ? 7 : 8) +
         BigEndian(flags, 2) + data;
}

std::string Text(const std::string& id, const std::string& text, int major) {
  return Frame(id, '\0' + text, 0, major);
}

std::string Id3v2(int major, const std::string& body, size_t padding,
                  int flags) {
  return "ID3" + BigEndian(major << 16 | flags, 3) +
         BigEndian(body.size() + padding, 4, 7) + body +
         std::string(padding, '\0');
}

std::string Id3v1(const std::vector<std::string>& texts, int track, int genre) {
  const size_t lengths[] = {30, 30, 30, 4, track != 0 ? 28u : 30u};
  std::string tag = "TAG";
  for (size_t i = 0; i < 5; ++i) {
    std::string text = i < texts.size() ? texts[i] : "";
    tag += text + std::string(lengths[i] - text.size(), '\0');
  }
  if (track != 0) tag += std::string(1, '\0') + static_cast<char>(track);
  return tag + static_cast<char>(genre);
}

std::string Frames(const std::string& file) {
  size_t id_size = file[3] == 2 ? 3 : 4, header = file[3] == 2 ? 6 : 10;
  size_t at = 10;
  while (at + header <= V2TagSize(file) && file[at] != 0)
    at += header + ReadSize(file, at + id_size, id_size, file[3] == 4 ? 7 : 8);
  return file.substr(10, at - 10);
}

size_t V2TagSize(const std::string& file) {
  bool tag = file.compare(0, 3, "ID3") == 0 &&
             (ReadSize(file, 6, 4, 8) & 0x80808080) == 0;
  return tag ? 10 + ReadSize(file, 6, 4, 7) : 0;
}

std::string AudioOf(const std::string& file) {
  size_t begin = V2TagSize(file), end = file.size();
  if (end >= begin + 128 && file.compare(end - 128, 3, "TAG") == 0) end -= 128;
  return file.substr(begin, end - begin);
}

std::string ReadFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Edit(const std::string& file,
                 const std::vector<std::string>& words) {
  tagedit::ArgumentList args{"tagwell", file};
  args.insert(args.end(), words.begin(), words.end());
  tagedit::SummaryText summary;
  tagedit::ApplyTagEdits(args, summary);
  return ReadFile(file);
}

TempDir::TempDir(const std::string& parent) {
  std::string pattern = parent + "/tagwell-test-XXXXXX";
  path_ = mkdtemp(pattern.data()) ? pattern : "";
  chmod(path_.c_str(), 0777);
}

TempDir::~TempDir() { std::filesystem::remove_all(path_); }

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

RunResult RunTagwell(const std::vector<std::string>& args,
                     const std::function<void()>& in_child) {
  static TempDir output;
  int status =
      ExitStatus(StartTagwell(args, output / "out", output / "err", in_child));
  return {ReadFile(output / "out"), ReadFile(output / "err"), status};
}

pid_t StartTagwell(const std::vector<std::string>& args, const std::string& out,
                   const std::string& err,
                   const std::function<void()>& in_child) {
  std::vector<char*> argv{const_cast<char*>(Binary().c_str())};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    freopen(out.c_str(), "w", stdout);
    freopen(err.c_str(), "w", stderr);
    if (in_child) in_child();
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testing_support
