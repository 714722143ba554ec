#include "test/support.h"

#include <dirent.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

namespace testing_support {

namespace {

std::string BigEndian(size_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> 8 * i);
  return out;
}

std::string SyncSafe(size_t value) {
  std::string out;
  for (int i = 3; i >= 0; --i) out += static_cast<char>(value >> 7 * i & 0x7F);
  return out;
}

size_t ReadSize(const std::string& bytes, size_t at, int count, int bits) {
  size_t value = 0;
  for (int i = 0; i < count; ++i) {
    value = value << bits | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

void RemoveTree(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name, child = path + "/" + name;
      if (name == "." || name == "..") continue;
      if (entry->d_type == DT_DIR) RemoveTree(child);
      unlink(child.c_str());
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

// A copy of the built binary that the user "nobody" may run too.
const std::string& Binary() {
  static TempDir dir;
  static const std::string path = [] {
    WriteFile(dir / "tagwell", ReadFile(TAGWELL_BINARY));
    chmod((dir / "tagwell").c_str(), 0755);
    return dir / "tagwell";
  }();
  return path;
}

[[noreturn]] void Exec(const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(Binary().c_str())};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
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
  return id + (major == 4 ? SyncSafe(data.size()) : BigEndian(data.size(), 4)) +
         BigEndian(flags, 2) + data;
}

std::string Text(const std::string& id, const std::string& text, int major) {
  return Frame(id, '\0' + text, 0, major);
}

std::string Id3v2(int major, const std::string& body, size_t padding,
                  int flags) {
  return "ID3" + BigEndian(major << 16 | flags, 3) +
         SyncSafe(body.size() + padding) + body + std::string(padding, '\0');
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

FrameList Frames(const std::string& file) {
  FrameList frames;
  size_t end = V2TagSize(file), at = 10;
  bool v22 = file[3] == 2;
  size_t id_size = v22 ? 3 : 4, header = v22 ? 6 : 10;
  while (at + header <= end && file[at] != '\0') {
    size_t size = ReadSize(file, at + id_size, id_size, file[3] == 4 ? 7 : 8);
    frames.emplace_back(file.substr(at, id_size),
                        file.substr(at + header, size));
    at += header + size;
  }
  return frames;
}

size_t V2TagSize(const std::string& file) {
  return file.compare(0, 3, "ID3") == 0 ? 10 + ReadSize(file, 6, 4, 7) : 0;
}

std::string AudioOf(const std::string& file) {
  size_t begin = V2TagSize(file), end = file.size();
  if (end >= begin + 128 && file.compare(end - 128, 3, "TAG") == 0) end -= 128;
  return file.substr(begin, end - begin);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TempDir::TempDir(const std::string& parent) {
  std::string pattern = parent + "/tagwell-test-XXXXXX";
  path_ = mkdtemp(pattern.data()) ? pattern : "";
  chmod(path_.c_str(), 0777);
}

TempDir::~TempDir() { RemoveTree(path_); }

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path_.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult RunTagwell(const std::vector<std::string>& args,
                     const std::function<void()>& in_child) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {"", "", -1};
  Binary();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    if (in_child) in_child();
    Exec(args);
  }
  close(out[1]);
  close(err[1]);
  RunResult result;
  // Both pipes are drained together so a chatty child cannot block on either.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  for (int open_fds = 2; open_fds > 0;) {
    poll(fds, 2, -1);
    for (int i = 0; i < 2; ++i) {
      char buffer[4096];
      ssize_t n =
          fds[i].revents != 0 ? read(fds[i].fd, buffer, sizeof buffer) : -1;
      if (n > 0) sinks[i]->append(buffer, n);
      if (n == 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  result.status = ExitStatus(pid);
  return result;
}

pid_t StartTagwell(const std::vector<std::string>& args) {
  Binary();
  pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    Exec(args);
  }
  return pid;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool BecomeNobody() {
  passwd* nobody = getpwnam("nobody");
  return nobody != nullptr && setgroups(0, nullptr) == 0 &&
         setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0;
}

}  // namespace testing_support
