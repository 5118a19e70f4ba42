#include "tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "process.h"

namespace e2e {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": " + strerror(errno));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Entries of one directory, "." and ".." left out.
std::vector<std::string> EntriesOf(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) Fail("cannot list", dir);
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

void ListInto(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
  for (const std::string& name : EntriesOf(dir)) {
    std::string full = dir + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) Fail("cannot stat", full);
    if (S_ISDIR(st.st_mode)) {
      out.push_back(prefix + name + "/");
      ListInto(full, prefix + name + "/", out);
    } else if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(full.c_str(), target, sizeof target);
      if (n < 0) Fail("cannot read link", full);
      out.push_back(prefix + name + "->" + std::string(target, static_cast<size_t>(n)));
    } else if (S_ISFIFO(st.st_mode)) {
      out.push_back("fifo:" + prefix + name);
    } else {
      out.push_back(prefix + name);
    }
  }
}

// The first entry of the directory open on `fd`, "." and ".." left out,
// with whether it is a directory; false when it is empty.
bool FirstEntry(int fd, std::string& name, bool& directory) {
  int own = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* d = own >= 0 ? fdopendir(own) : nullptr;
  if (d == nullptr) {
    if (own >= 0) close(own);
    return false;
  }
  bool found = false;
  while (dirent* e = readdir(d)) {
    name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    directory = fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    found = true;
    break;
  }
  closedir(d);
  return found;
}

}  // namespace

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlink(path.c_str());
    return;
  }
  chmod(path.c_str(), 0700);
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // The names of the directories stood in below `path`: the way down is
  // kept on the heap and each step taken from a descriptor, so no depth
  // runs out of stack or of path length.
  std::vector<std::string> way;
  std::string name;
  bool directory = false;
  while (fd >= 0) {
    if (FirstEntry(fd, name, directory)) {
      if (!directory) {
        if (unlinkat(fd, name.c_str(), 0) != 0) break;
        continue;
      }
      fchmodat(fd, name.c_str(), 0700, 0);
      int below = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (below < 0) break;
      close(fd);
      fd = below;
      way.push_back(name);
      continue;
    }
    if (way.empty()) break;
    int above = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = above;
    if (fd >= 0 && unlinkat(fd, way.back().c_str(), AT_REMOVEDIR) != 0) break;
    way.pop_back();
  }
  if (fd >= 0) close(fd);
  rmdir(path.c_str());
}

namespace {

void MakeParents(const std::string& root, std::string_view relative) {
  for (size_t slash = relative.find('/'); slash != std::string_view::npos;
       slash = relative.find('/', slash + 1)) {
    std::string dir = root + "/" + std::string(relative.substr(0, slash));
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) Fail("cannot make", dir);
  }
}

void WriteFile(const std::string& path, std::string_view bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create", path);
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    close(fd);
    Fail("cannot write", path);
  }
  close(fd);
}

void MakeSparse(const std::string& path, std::string_view size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create", path);
  int result = ftruncate(fd, std::stoll(std::string(size)));
  close(fd);
  if (result != 0) Fail("cannot extend", path);
}

}  // namespace

ScopedTree::ScopedTree(const std::vector<std::string>& entries) {
  std::string pattern = TemporaryRoot() + "/kelvo-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make", pattern);
  char* real = realpath(pattern.c_str(), nullptr);
  if (real == nullptr) Fail("cannot resolve", pattern);
  path_ = real;
  free(real);
  for (const std::string& entry : entries) Add(entry);
}

ScopedTree::~ScopedTree() {
  if (::testing::Test::HasFailure()) {
    std::cout << "Kept the tree of the failed test: " << path_ << std::endl;
    return;
  }
  RemoveTree(path_);
}

void ScopedTree::Add(std::string_view entry) {
  bool readOnly = StartsWith(entry, "ro:");
  if (readOnly) entry.remove_prefix(3);
  bool fifo = StartsWith(entry, "fifo:");
  if (fifo) entry.remove_prefix(5);
  bool sparse = StartsWith(entry, "sparse:");
  if (sparse) entry.remove_prefix(7);

  size_t arrow = entry.find("->");
  size_t equals = entry.find('=');
  std::string_view name = entry.substr(0, std::min(arrow, equals));
  std::string_view value;
  if (arrow != std::string_view::npos) {
    value = entry.substr(arrow + 2);
  } else if (equals != std::string_view::npos) {
    value = entry.substr(equals + 1);
  }

  MakeParents(path_, name);
  std::string full = PathOf(name);
  if (arrow != std::string_view::npos) {
    if (symlink(std::string(value).c_str(), full.c_str()) != 0) Fail("cannot link", full);
    return;  // a link has no write bits of its own
  }
  if (name.ends_with('/')) {
    if (mkdir(full.c_str(), 0755) != 0 && errno != EEXIST) Fail("cannot make", full);
  } else if (fifo) {
    if (mkfifo(full.c_str(), 0644) != 0) Fail("cannot make fifo", full);
  } else if (sparse) {
    MakeSparse(full, value);
  } else {
    WriteFile(full, value);
  }
  if (readOnly && chmod(full.c_str(), name.ends_with('/') ? 0555 : 0444) != 0)
    Fail("cannot protect", full);
}

std::vector<std::string> ScopedTree::Left() const {
  std::vector<std::string> left;
  ListInto(path_, "", left);
  std::sort(left.begin(), left.end());
  return left;
}

std::string ScopedTree::Read(std::string_view name) const {
  std::string full = PathOf(name);
  int fd = open(full.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail("cannot open", full);
  std::string bytes;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

int OpenChain(const std::string& root, const std::string& name, int depth, bool make) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < depth && fd >= 0; ++level) {
    if (make) mkdirat(fd, name.c_str(), 0755);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
  }
  return fd;
}

}  // namespace e2e
