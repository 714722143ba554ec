#include "test/support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace testing_support {

namespace {

std::string BigEndian(size_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>(value >> (24 - 8 * i));
  return bytes;
}

std::string SyncSafe(size_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>((value >> (21 - 7 * i)) & 0x7F);
  return bytes;
}

size_t ReadSyncSafe(const std::string& bytes, size_t at) {
  size_t value = 0;
  for (int i = 0; i < 4; ++i)
    value = (value << 7) | (static_cast<unsigned char>(bytes[at + i]) & 0x7F);
  return value;
}

void RemoveTree(const std::string& path) {
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = path + "/" + name;
      if (entry->d_type == DT_DIR) {
        RemoveTree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

}  // namespace

std::string MpegFrames(size_t count, unsigned seed, const std::string& header,
                       size_t length) {
  std::mt19937 random(seed);
  std::string frames;
  for (size_t i = 0; i < count; ++i) {
    frames += header;
    for (size_t k = 4; k < length; ++k) {
      frames += static_cast<char>(random() % 0xFF);
    }
  }
  return frames;
}

std::string Frame(const std::string& id, const std::string& payload, int flags,
                  int major) {
  if (id.size() == 3) return id + BigEndian(payload.size()).substr(1) + payload;
  return id +
         (major == 4 ? SyncSafe(payload.size()) : BigEndian(payload.size())) +
         static_cast<char>(flags >> 8) + static_cast<char>(flags & 0xFF) +
         payload;
}

std::string TextFrame(const std::string& id, const std::string& text) {
  return Frame(id, std::string(1, '\0') + text);
}

std::string Id3v2(int major, const std::string& frames, size_t padding,
                  int flags) {
  return std::string("ID3") + static_cast<char>(major) + '\0' +
         static_cast<char>(flags) + SyncSafe(frames.size() + padding) + frames +
         std::string(padding, '\0');
}

std::string Id3v1(const std::vector<std::string>& texts, int track, int genre) {
  const size_t lengths[] = {30, 30, 30, 4, track != 0 ? 28u : 30u};
  std::string tag = "TAG";
  for (size_t i = 0; i < 5; ++i) {
    std::string text = i < texts.size() ? texts[i] : "";
    tag += text + std::string(lengths[i] - text.size(), '\0');
  }
  if (track != 0) tag += std::string("\0", 1) + static_cast<char>(track);
  return tag + static_cast<char>(genre);
}

std::vector<std::pair<std::string, std::string>> RawFrames(
    const std::string& file) {
  std::vector<std::pair<std::string, std::string>> frames;
  size_t end = V2TagSize(file);
  EXPECT_GT(end, 0u) << "no ID3v2 tag";
  int major = file[3];
  size_t id_size = major == 2 ? 3 : 4, header = major == 2 ? 6 : 10;
  size_t at = 10;
  while (at + header <= end && file[at] != '\0') {
    size_t size = 0;
    for (size_t i = id_size; i < 2 * id_size; ++i) {
      size = (size << (major == 4 ? 7 : 8)) |
             static_cast<unsigned char>(file[at + i]);
    }
    frames.emplace_back(file.substr(at, id_size),
                        file.substr(at + header, size));
    at += header + size;
  }
  return frames;
}

std::string RawFrame(const std::string& file, const std::string& id) {
  std::string payload;
  int found = 0;
  for (const auto& [frame_id, frame_payload] : RawFrames(file)) {
    if (frame_id == id) {
      payload = frame_payload;
      ++found;
    }
  }
  EXPECT_EQ(found, 1) << "frames " << id;
  return payload;
}

size_t V2TagSize(const std::string& file) {
  if (file.compare(0, 3, "ID3") != 0) return 0;
  return 10 + ReadSyncSafe(file, 6);
}

std::string AudioOf(const std::string& file) {
  size_t begin = V2TagSize(file);
  size_t end = file.size();
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  EXPECT_TRUE(out.good()) << path;
}

TempDir::TempDir(const std::string& parent) {
  std::string pattern = parent + "/tagwell-test-XXXXXX";
  EXPECT_NE(mkdtemp(pattern.data()), nullptr) << parent;
  path_ = pattern;
  chmod(path_.c_str(), 0777);
}

TempDir::~TempDir() {
  chmod(path_.c_str(), 0777);
  RemoveTree(path_);
}

std::string TempDir::operator/(const std::string& name) const {
  return path_ + "/" + name;
}

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

const std::string& TagwellBinary() {
  static TempDir dir;
  static const std::string path = [] {
    std::string copy = dir / "tagwell";
    WriteFile(copy, ReadFile(TAGWELL_BINARY));
    chmod(copy.c_str(), 0755);
    return copy;
  }();
  return path;
}

RunResult RunTagwell(const std::vector<std::string>& args,
                     const std::function<void()>& in_child) {
  int out[2], err[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  const std::string& binary = TagwellBinary();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    if (in_child) in_child();
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  RunResult result;
  // Both pipes are drained together so a chatty child cannot block on either.
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_fds = 2;
  while (open_fds > 0) {
    poll(fds, 2, -1);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, n);
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool BecomeNobody() {
  passwd* nobody = getpwnam("nobody");
  return nobody != nullptr && setgroups(0, nullptr) == 0 &&
         setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0;
}

}  // namespace testing_support
