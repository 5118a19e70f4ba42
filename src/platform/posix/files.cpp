// File-system services on POSIX, with the results of their Windows
// counterparts: names found without regard to ASCII case, Windows attribute
// bits, links never followed into directories.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <climits>

#include "common/names.h"
#include "platform/core/removals.h"
#include "platform/posix/descent.h"
#include "platform/posix/listing.h"
#include "platform/platform.h"

namespace {

std::string programPath;

std::string SystemCurrentDirectory() {
  std::string current;
  if (char* cwd = getcwd(nullptr, 0)) {
    current = cwd;
    free(cwd);
  }
  return current;
}

void SetProgramPath(const char* argv0) {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n > 0) {
    programPath.assign(buffer, static_cast<size_t>(n));
  } else if (argv0 != nullptr) {
    programPath = argv0;
  }
}

// An environment value that names an absolute directory; the XDG rules take
// an unset, empty or relative one as not given.
const char* AbsoluteDirectory(const char* value) {
  return value != nullptr && value[0] == '/' ? value : nullptr;
}

std::string WithSlash(std::string_view dir) {
  std::string path(dir);
  if (path.back() != '/') path += '/';
  return path;
}

std::string HomeDirectory() {
  if (const char* home = AbsoluteDirectory(getenv("HOME"))) return home;
  const struct passwd* account = getpwuid(getuid());
  if (account != nullptr && AbsoluteDirectory(account->pw_dir)) return account->pw_dir;
  return {};
}

}  // namespace

void StartFileSystem(const char* argv0) {
  SetProgramPath(argv0);
  std::string start = SystemCurrentDirectory();
  ForgetPlaces(start, start);
}

std::string ProgramPath() { return programPath; }

namespace {

// Removes a file below a directory part from the directory reached by
// opening each component from the one before it, never through a link and
// never onto another mount: a component swapped for a link while a question
// waited leads nowhere.
bool UnlinkBelow(const std::string& dirPath, const std::string& leaf) {
  Place* here = Here();
  if (here == nullptr) return false;
  Fd below;  // the component reached last, once one was
  bool reached = true;
  for (size_t pos = 0; reached && pos < dirPath.size();) {
    size_t end = dirPath.find('/', pos);
    std::string component = dirPath.substr(pos, end - pos);
    int from = below ? below.get() : here->fd.get();
    below = Fd(openat(from, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    MountTag mount;
    reached = below && IdentityWithMount(below.get(), st, mount) &&
              SameMount(here->mount, mount, below.get());
    pos = end + 1;
  }
  if (!reached) return false;
  // The file is judged again where it is now.
  StopGate gate;
  return UnlinkIfRemovable(below ? below.get() : here->fd.get(), leaf.c_str());
}

}  // namespace

Removal RemoveOrIssue(std::string_view name, int64_t& size, bool overlap) {
  std::string_view leaf = NamePart(name);
  // "*" and "?" are plain characters of a POSIX name: a file called
  // "notes.~*" that a search found is deleted by that name.
  std::string dirPath;
  if (leaf.empty() || !ReachDirectoryOf(name, dirPath)) return Removal::Failed;
  const std::shared_ptr<Listing>& listing = ListingFor(dirPath);
  int32_t i = FindLiteral(*listing, leaf);
  if (i < 0) return Removal::Failed;
  ListedEntry& entry = listing->entries[i];
  // Read now, after any question: a file that became read-only, a directory
  // or nothing while the user was asked is not deleted.
  if (!CurrentAttributes(*listing, entry)) return Removal::Failed;
  if ((entry.attributes & ~kAttrHidden) != kAttrArchive) return Removal::Failed;
  size = entry.size;
  bool removed;
  if (listing->path.empty()) {
    if (overlap && IssueAhead(listing, entry, name)) return Removal::Issued;
    StopGate gate;
    removed = RemoveEntry(*listing, entry);
  } else {
    removed = UnlinkBelow(listing->path, entry.name);
  }
  if (!removed) return Removal::Failed;
  entry.removed = true;
  return Removal::Removed;
}

// Where ChangeDirectory left the process, which stood in `text` and was
// given `target`, as the system names it. A step by one name, or up by "..",
// is applied to the text instead of asking the system, whose answer costs a
// walk up the whole path in a deep tree.
std::string TextAfterChange(std::string text, std::string_view target) {
  if (target == "..") {
    size_t cut = text.rfind('/');
    text.resize(cut == 0 || cut == std::string::npos ? 1 : cut);
    return text;
  }
  if (target.find('/') == std::string_view::npos && target != ".") {
    if (text.empty() || text.back() != '/') text += '/';
    text.append(target);
    return text;
  }
  return SystemCurrentDirectory();
}

bool ChangeDirectory(std::string_view path) {
  if (path.empty()) return false;
  LeavingDirectory();
  std::string target(path);
  if (chdir(target.c_str()) != 0) {
    if (errno != ENOENT) return false;
    target = ResolveLiteralPath(path);
    if (chdir(target.c_str()) != 0) return false;
  }
  ForgetListings();
  ForgetPlaces(path, TextAfterChange(TopAsSystemNamesIt(), target));
  return true;
}

bool ReturnToDirectory(const char* path) { return chdir(path) == 0; }

std::string CurrentDirectory() { return TopAsSystemNamesIt(); }

int64_t FreeDiskBytes(uint8_t) {
  struct statvfs vfs;
  if (statvfs(".", &vfs) != 0) return -1;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

std::vector<std::string> ConfigDirectories() {
  std::vector<std::string> dirs;
  if (const char* user = AbsoluteDirectory(getenv("XDG_CONFIG_HOME")))
    dirs.push_back(WithSlash(user));
  else if (std::string home = HomeDirectory(); !home.empty())
    dirs.push_back(WithSlash(home) + ".config/");
  const char* system = getenv("XDG_CONFIG_DIRS");
  std::string_view list = system != nullptr && system[0] != '\0' ? system : "/etc/xdg";
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string_view dir = list.substr(0, colon);
    if (dir.starts_with('/')) dirs.push_back(WithSlash(dir));
    list.remove_prefix(colon == std::string_view::npos ? list.size() : colon + 1);
  }
  return dirs;
}

struct ReadFileState {
  int fd;
};

ReadFileState* OpenReadOnly(std::string_view path) {
  std::string resolved = ResolveLiteralPath(path);
  // Non-blocking, so that a FIFO standing in the companion file's place
  // cannot hold up the start; it is refused as not a regular file.
  int fd = open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  return new ReadFileState{fd};
}

bool ReadBytes(ReadFileState* file, char* buffer, size_t capacity, size_t& got) {
  got = 0;
  while (true) {
    ssize_t n = read(file->fd, buffer, capacity);
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

void CloseReadOnly(ReadFileState* file) {
  close(file->fd);
  delete file;
}
