// The directory reader of the POSIX layer: readdir, then the entries in name
// order, and Windows attribute bits made from lstat.
#include "platform/posix/listing.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/names.h"
#include "platform/posix/descent.h"

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

// A descriptor to read the listing's directory from; the current
// directory's is opened through its held place.
Fd OpenListed(const Listing& listing) {
  Place* here = listing.path.empty() ? Here() : nullptr;
  return Fd(here != nullptr ? openat(here->fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                            : open(listing.path.empty() ? "." : listing.path.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Where a listing's entries are named from: the held descriptor of the
// current directory, or the path of the listing from the current one.
int DirectoryFd(const Listing& listing) {
  Place* here = listing.path.empty() ? Here() : nullptr;
  return here != nullptr ? here->fd.get() : AT_FDCWD;
}

std::string NameFrom(const Listing& listing, const ListedEntry& entry) {
  return listing.path.empty() ? entry.name : listing.path + entry.name;
}

}  // namespace

bool RemoveEntry(const Listing& listing, const ListedEntry& entry) {
  std::string name = NameFrom(listing, entry);
  if (entry.readEarlier) return UnlinkIfRemovable(DirectoryFd(listing), name.c_str());
  return unlinkat(DirectoryFd(listing), name.c_str(), 0) == 0;
}

bool IsRemovableNow(int dir, const char* name) {
  struct stat st;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return (S_ISREG(st.st_mode) && !(FileAttributes(st) & kAttrReadOnly)) || S_ISLNK(st.st_mode);
}

bool UnlinkIfRemovable(int dir, const char* name) {
  return IsRemovableNow(dir, name) && unlinkat(dir, name, 0) == 0;
}

namespace {

void AddEntry(std::vector<ListedEntry>& entries, std::string_view name, unsigned char type) {
  if (name == "." || name == "..") return;
  ListedEntry& entry = entries.emplace_back();
  entry.name.assign(name);
  NoteType(entry, type);
  // The first eight bytes, folded, the first the most significant.
  uint64_t head = 0;
  if (name.size() >= 8)
    std::memcpy(&head, name.data(), 8);
  else
    std::memcpy(&head, name.data(), name.size());
  entry.orderKey = BigEndian(FoldEight(head));
}

}  // namespace

#if defined(__linux__)
// The kernel's records are read straight into a buffer the size of the C
// library's own, so a directory takes as many reads as a readdir loop would,
// and the entries get room for all that a read holds before they are added.
bool ReadEntries(int fd, std::vector<ListedEntry>& entries) {
  alignas(8) static thread_local char buffer[32768];
  for (;;) {
    ssize_t got = getdents64(fd, buffer, sizeof buffer);
    // A directory removed while it is read ends there, as readdir has it.
    if (got == 0 || (got < 0 && errno == ENOENT)) return true;
    if (got < 0) return false;
    auto end = static_cast<size_t>(got);
    size_t records = 0;
    for (size_t at = 0; at < end; at += reinterpret_cast<dirent64*>(buffer + at)->d_reclen) ++records;
    if (entries.capacity() < entries.size() + records)
      entries.reserve(std::max(2 * entries.capacity(), entries.size() + records));
    for (size_t at = 0; at < end;) {
      const dirent64* d = reinterpret_cast<const dirent64*>(buffer + at);
      AddEntry(entries, d->d_name, d->d_type);
      at += d->d_reclen;
    }
  }
}
#else
bool ReadEntries(int fd, std::vector<ListedEntry>& entries) {
  Fd own(dup(fd));
  DIR* dir = own ? fdopendir(own.get()) : nullptr;
  if (dir == nullptr) return false;
  own.release();  // the stream closes it
  entries.reserve(64);
  bool whole;
  for (;;) {
    errno = 0;
    dirent* d = readdir(dir);
    if (d == nullptr) {
      whole = errno == 0;
      break;
    }
    AddEntry(entries, d->d_name, d->d_type);
  }
  closedir(dir);
  return whole;
}
#endif

bool ReadDirectory(Listing& listing) {
  Fd fd = OpenListed(listing);
  if (!fd) return false;
  bool whole = ReadEntries(fd.get(), listing.entries);
  fd.Close();
  KeepEntries(listing.entries);
  return whole;
}

void KeepEntries(std::vector<ListedEntry>& entries) {
  // A descent keeps the listing of every level it stands below: room left
  // over in each would add up in a deep tree.
  if (entries.capacity() > 2 * entries.size()) entries.shrink_to_fit();
}

bool ListedBefore(const ListedEntry& a, const ListedEntry& b) { return NameOrderBefore(a, b); }

bool ReadEntryAttributes(const Listing& listing, ListedEntry& entry) {
  int dir = DirectoryFd(listing);
  std::string path = NameFrom(listing, entry);
  uint32_t attributes;
  int64_t size = 0;
  // The status of a file the sweep is about to delete may have been read
  // ahead, fresh enough to judge it by; it is read once more as it goes.
  entry.readEarlier = listing.path.empty() && TakeFile(entry.name, attributes, size);
  if (entry.readEarlier) {
    entry.attributes = attributes | (entry.name[0] == '.' ? kAttrHidden : 0);
    entry.size = size;
    return true;
  }
  struct stat st;
  MountTag mount;
  if (!StatusWithMount(dir, path.c_str(), st, mount)) return false;
  if (S_ISREG(st.st_mode)) {
    attributes = FileAttributes(st);
    size = st.st_size;
  } else if (S_ISDIR(st.st_mode)) {
    // Every directory a listing is read of lies on the current mount: the
    // descent and a directory part reach no other.
    Place* here = Here();
    bool sameMount = here != nullptr && OnMountOf(here->mount, mount, dir, path.c_str());
    attributes = DirectoryAttributes(st, sameMount, "");
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
    ListedEntry& entry = listing->entries[i];
    if (ListedAsSubdirectory(entry)) continue;
    // A status the naming read (a link, a type the listing left open) is
    // as old by its deletion as the deletions before it take: read again.
    entry.readAt = attributeEpoch - 1;
    files.push_back(entry.name);
  }
  AskFiles(HereForAhead(), std::move(files));
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
