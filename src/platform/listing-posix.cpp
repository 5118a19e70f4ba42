// The directory reader of the POSIX layer: readdir, then the entries in name
// order, and Windows attribute bits made from lstat.
#include "platform/listing-posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/names.h"
#include "platform/readahead.h"

// As Windows does, so that a rule's derived word "." names "hello" for hello.c.
const std::string_view kDroppedAtNameEnd = ".";

namespace {

uint64_t currentDevice = 0;
bool currentDeviceKnown = false;
uint64_t currentInode = 0;
bool currentInodeKnown = false;

// The device a listing's directory lies on: a subdirectory on another one is
// a mount point.
uint64_t DeviceOf(const Listing& listing) {
  if (listing.path.empty()) return CurrentDevice();
  struct stat st;
  return stat(listing.path.c_str(), &st) == 0 ? st.st_dev : 0;
}

int CompareFolded(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = AsciiUpperChar(a[i]), y = AsciiUpperChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// What d_type alone shows of the Windows bits; a link or an unknown type
// needs an lstat.
void NoteType(ListedEntry& entry, unsigned char type) {
  uint32_t hidden = entry.name[0] == '.' ? kAttrHidden : 0;
  entry.typeKnown = type != DT_LNK && type != DT_UNKNOWN;
  if (type == DT_REG) {
    entry.listedAttributes = hidden | kAttrArchive;
  } else if (type == DT_DIR) {
    entry.listedAttributes = hidden | kAttrDirectory;
  } else if (entry.typeKnown) {
    entry.listedAttributes = hidden | kAttrSystem;
  } else {
    entry.listedAttributes = hidden;
  }
}

}  // namespace

namespace {

int heldDirectory = -1;

DIR* OpenListed(const Listing& listing) {
  if (listing.path.empty() && heldDirectory >= 0) {
    int fd = heldDirectory;
    heldDirectory = -1;
    if (DIR* dir = fdopendir(fd)) return dir;
    close(fd);
  }
  return opendir(listing.path.empty() ? "." : listing.path.c_str());
}

}  // namespace

void HoldCurrentDirectory(int fd) {
  if (heldDirectory >= 0) close(heldDirectory);
  heldDirectory = fd;
}

void ReadEntries(DIR* dir, std::vector<ListedEntry>& entries) {
  entries.reserve(64);
  while (dirent* d = readdir(dir)) {
    std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    ListedEntry& entry = entries.emplace_back();
    entry.name.assign(name);
    NoteType(entry, d->d_type);
    for (size_t i = 0; i < 8; ++i) {
      unsigned char c = i < name.size() ? AsciiUpperChar(name[i]) : 0;
      entry.orderKey = (entry.orderKey << 8) | c;
    }
  }
}

// The current directory's listing may have been read ahead; either way its
// subdirectories are read ahead through the descriptor it was entered by.
// Its inode is known only where it was entered as a subdirectory, which a
// held descriptor shows: one reached by ".." keeps the inode of the last
// entered.
void ReadDirectory(Listing& listing) {
  if (listing.path.empty() && heldDirectory >= 0 && currentInodeKnown &&
      TakeReadAhead(CurrentDevice(), currentInode, listing.entries)) {
    int fd = heldDirectory >= 0 ? fcntl(heldDirectory, F_DUPFD_CLOEXEC, 0) : -1;
    if (fd >= 0) listing.readAheadGroup = ReadAheadSubdirectories(fd, listing.entries);
    return;
  }
  DIR* dir = OpenListed(listing);
  if (dir == nullptr) return;
  ReadEntries(dir, listing.entries);
  if (listing.path.empty()) {
    int fd = fcntl(dirfd(dir), F_DUPFD_CLOEXEC, 0);
    if (fd >= 0) listing.readAheadGroup = ReadAheadSubdirectories(fd, listing.entries);
  }
  closedir(dir);
}

// Name order, as a case-preserving file system lists a directory, so that a
// run announces its files in the same order on every machine. The key holds
// the first eight bytes folded.
bool ListedBefore(const ListedEntry& a, const ListedEntry& b) {
  if (a.orderKey != b.orderKey) return a.orderKey < b.orderKey;
  int folded = CompareFolded(a.name, b.name);
  return folded != 0 ? folded < 0 : a.name < b.name;
}

bool ReadEntryAttributes(const Listing& listing, ListedEntry& entry) {
  std::string path = listing.path + entry.name;
  struct stat st;
  // A subdirectory already opened to be read ahead: what its descriptor
  // showed is what lstat would show of it.
  bool ahead = listing.readAheadGroup != 0 && entry.typeKnown &&
               entry.listedAttributes == kAttrDirectory &&
               ReadAheadStatus(listing.readAheadGroup, entry.name, st);
  if (!ahead && lstat(path.c_str(), &st) != 0) return false;
  uint32_t attributes;
  int64_t size = 0;
  if (S_ISREG(st.st_mode)) {
    attributes = kAttrArchive | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
    size = st.st_size;
  } else if (S_ISDIR(st.st_mode)) {
    attributes = kAttrDirectory | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
    if (st.st_dev != DeviceOf(listing)) attributes |= kAttrReparsePoint;
  } else if (S_ISLNK(st.st_mode)) {
    // A link is never followed: one to a directory is not entered, one to a
    // file (or to nothing) is removed itself, its target untouched.
    struct stat target;
    bool toDirectory = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    attributes = toDirectory ? (kAttrDirectory | kAttrReparsePoint) : kAttrArchive;
  } else {
    attributes = kAttrSystem;
  }
  if (entry.name[0] == '.') attributes |= kAttrHidden;
  entry.attributes = attributes;
  entry.size = size;
  return true;
}

std::string DirectoryOf(std::string_view path) {
  if (path.find('/') == std::string_view::npos) return {};
  std::string resolved = ResolveLiteralPath(PathPart(path));
  if (resolved.back() != '/') resolved += '/';
  return resolved;
}

uint64_t CurrentDevice() {
  if (!currentDeviceKnown) {
    struct stat here;
    currentDevice = stat(".", &here) == 0 ? here.st_dev : 0;
    currentDeviceKnown = true;
  }
  return currentDevice;
}

void NoteCurrentDevice(uint64_t device) {
  currentDevice = device;
  currentDeviceKnown = true;
}

void ForgetCurrentDevice() {
  currentDeviceKnown = false;
  currentInodeKnown = false;
}

void NoteCurrentInode(uint64_t inode) {
  currentInode = inode;
  currentInodeKnown = true;
}

std::string ResolveLiteralPath(std::string_view path) {
  std::string whole(path);
  struct stat st;
  if (whole.empty() || lstat(whole.c_str(), &st) == 0) return whole;
  std::string resolved;
  size_t pos = 0;
  if (path[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(pos, end - pos);
    bool last = end == path.size();
    if (!part.empty()) {
      std::string exact = resolved + std::string(part);
      if (part != "." && part != ".." && lstat(exact.c_str(), &st) != 0) {
        const std::shared_ptr<Listing>& listing = ListingFor(resolved);
        int32_t i = FindLiteral(*listing, part);
        if (i >= 0) exact = resolved + listing->entries[i].name;
      }
      resolved = exact;
      if (!last) resolved += '/';
    } else if (!last && !resolved.empty() && resolved.back() != '/') {
      resolved += '/';
    }
    pos = end + 1;
  }
  return resolved;
}
