// The directory reader of the POSIX layer: readdir, then the entries in name
// order, and Windows attribute bits made from lstat.
#include "platform/posix/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/names.h"
#include "platform/posix/readahead.h"

// As Windows does, so that a rule's derived word "." names "hello" for hello.c.
const std::string_view kDroppedAtNameEnd = ".";

namespace {

uint64_t BigEndian(uint64_t bytes) {
  return std::endian::native == std::endian::little ? __builtin_bswap64(bytes) : bytes;
}

// Names in folded order and, where they are equal but for case, in byte
// order: one pass, eight bytes at a time, as names equal but for case are
// compared whole at each step of a sort.
int CompareNames(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  int bytes = 0;  // the order of the first bytes that differ
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x == y) continue;
    if (bytes == 0) bytes = BigEndian(x) < BigEndian(y) ? -1 : 1;
    x = BigEndian(FoldEight(x));
    y = BigEndian(FoldEight(y));
    if (x != y) return x < y ? -1 : 1;
  }
  for (; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x == y) continue;
    if (bytes == 0) bytes = x < y ? -1 : 1;
    unsigned char foldedX = AsciiUpperChar(a[i]), foldedY = AsciiUpperChar(b[i]);
    if (foldedX != foldedY) return foldedX < foldedY ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return bytes;
}

// Name order, as a case-preserving file system lists a directory, so that a
// run announces its files in the same order on every machine. The key holds
// the first eight bytes folded.
bool NameOrderBefore(const ListedEntry& a, const ListedEntry& b) {
  if (a.orderKey != b.orderKey) return a.orderKey < b.orderKey;
  return CompareNames(a.name, b.name) < 0;
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
uint64_t heldDevice = 0;
uint64_t heldInode = 0;
bool heldIdentityKnown = false;

// The held descriptor stays open after the read: the sweep reads and deletes
// the directory's files through it.
DIR* OpenListed(const Listing& listing) {
  if (listing.path.empty() && heldDirectory >= 0) {
    int fd = openat(heldDirectory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      if (DIR* dir = fdopendir(fd)) return dir;
      close(fd);
    }
  }
  return opendir(listing.path.empty() ? "." : listing.path.c_str());
}

// Where a listing's entries are named from: the held descriptor of the
// current directory, or the path of the listing from the current one.
int DirectoryFd(const Listing& listing) {
  return listing.path.empty() && heldDirectory >= 0 ? heldDirectory : AT_FDCWD;
}

std::string NameFrom(const Listing& listing, const ListedEntry& entry) {
  return listing.path.empty() ? entry.name : listing.path + entry.name;
}

}  // namespace

bool RemoveEntry(const Listing& listing, const ListedEntry& entry) {
  return unlinkat(DirectoryFd(listing), NameFrom(listing, entry).c_str(), 0) == 0;
}

void HoldCurrentDirectory(int fd) {
  DropFilesAhead();
  if (heldDirectory >= 0) close(heldDirectory);
  heldDirectory = fd;
  heldIdentityKnown = false;
}

void NoteCurrentIdentity(uint64_t device, uint64_t inode) {
  heldDevice = device;
  heldInode = inode;
  heldIdentityKnown = true;
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

// The current directory's listing may have been read ahead, and its
// subdirectories asked for with it; else they are read ahead through the
// descriptor it was entered by.
// Its identity is known only where it was entered as a subdirectory, which a
// held descriptor shows.
void ReadDirectory(Listing& listing) {
  int ahead = -1;
  uint64_t below = 0;
  if (listing.path.empty() && heldDirectory >= 0 && heldIdentityKnown &&
      TakeReadAhead(heldDevice, heldInode, listing.entries, below)) {
    if (below != 0) {
      listing.readAheadGroup = below;
      listing.readAheadEpoch = attributeEpoch;
      return;
    }
    ahead = fcntl(heldDirectory, F_DUPFD_CLOEXEC, 0);
  } else {
    DIR* dir = OpenListed(listing);
    if (dir == nullptr) return;
    ReadEntries(dir, listing.entries);
    if (listing.path.empty() && ListingsReadAhead()) ahead = fcntl(dirfd(dir), F_DUPFD_CLOEXEC, 0);
    closedir(dir);
    KeepEntries(listing.entries);
  }
  if (ahead >= 0) listing.readAheadGroup = ReadAheadSubdirectories(ahead, listing.entries);
  listing.readAheadEpoch = attributeEpoch;
}

namespace {

// The subdirectories still ahead, asked for again after a key, through the
// descriptor the directory was entered by.
void AskAgainAfterKey(const Listing& listing, const ListedEntry& entry) {
  std::vector<ListedEntry> rest;
  if (!SubdirectoriesToAskAgain(listing, entry, ListedAsSubdirectory, rest)) return;
  int fd = heldDirectory >= 0 ? fcntl(heldDirectory, F_DUPFD_CLOEXEC, 0)
                              : open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  listing.readAheadGroup = fd < 0 ? 0 : ReadAheadSubdirectories(fd, rest);
}

}  // namespace

void KeepEntries(std::vector<ListedEntry>& entries) {
  // A descent keeps the listing of every level it stands below: room left
  // over in each would add up in a deep tree.
  if (entries.capacity() > 2 * entries.size()) entries.shrink_to_fit();
}

bool ListedBefore(const ListedEntry& a, const ListedEntry& b) { return NameOrderBefore(a, b); }

bool ReadEntryAttributes(const Listing& listing, ListedEntry& entry) {
  int dir = DirectoryFd(listing);
  std::string path = NameFrom(listing, entry);
  struct stat st;
  MountTag mount;
  // A subdirectory already opened to be read ahead: what its descriptor
  // showed is what lstat would show of it.
  bool subdirectory = ListedAsSubdirectory(entry);
  if (subdirectory) AskAgainAfterKey(listing, entry);
  bool ahead = listing.readAheadGroup != 0 && subdirectory &&
               ReadAheadStatus(listing.readAheadGroup, entry.name, st, mount);
  if (!ahead && listing.path.empty() && !subdirectory) ahead = TakeFileAhead(entry.name, st);
  if (!ahead && !StatusWithMount(dir, path.c_str(), st, mount)) return false;
  uint32_t attributes;
  int64_t size = 0;
  if (S_ISREG(st.st_mode)) {
    attributes = kAttrArchive | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
    size = st.st_size;
  } else if (S_ISDIR(st.st_mode)) {
    attributes = kAttrDirectory | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
    // Every directory a listing is read of lies on the current mount: the
    // descent and a directory part reach no other.
    if (!OnCurrentMount(mount, dir, path.c_str())) attributes |= kAttrReparsePoint;
  } else if (S_ISLNK(st.st_mode)) {
    // A link is never followed: one to a directory is not entered, one to a
    // file (or to nothing) is removed itself, its target untouched.
    struct stat target;
    bool toDirectory = fstatat(dir, path.c_str(), &target, 0) == 0 && S_ISDIR(target.st_mode);
    attributes = toDirectory ? (kAttrDirectory | kAttrReparsePoint) : kAttrArchive;
  } else {
    attributes = kAttrSystem;
  }
  if (entry.name[0] == '.') attributes |= kAttrHidden;
  entry.attributes = attributes;
  entry.size = size;
  return true;
}

void WillRemove(const std::vector<std::string>& names) {
  Listing* listing = CachedListing("");
  if (listing == nullptr || !ReadsFilesAhead()) return;
  std::vector<bool> named(listing->entries.size());
  std::vector<std::string> files;
  for (const std::string& name : names) {
    int32_t i = NamePart(name) == name ? FindLiteral(*listing, name) : -1;
    if (i < 0 || named[i]) continue;
    named[i] = true;
    const ListedEntry& entry = listing->entries[i];
    if (entry.readAt != attributeEpoch && !ListedAsSubdirectory(entry)) files.push_back(entry.name);
  }
  int fd = heldDirectory >= 0 ? fcntl(heldDirectory, F_DUPFD_CLOEXEC, 0)
                              : open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) ReadFilesAhead(fd, std::move(files));
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
