#include "platform/listing-posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "common/match.h"
#include "common/names.h"
#include "platform/platform.h"

namespace {

std::map<std::string, std::shared_ptr<Listing>> cache;
std::shared_ptr<Listing> current;  // the current directory's, asked for most

uint32_t FoldedHash(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(AsciiUpperChar(c))) * 16777619u;
  return hash;
}

// The bit of a name's folded extension: a name whose bit is clear in a
// listing cannot be in it, so most lookups of derived files that are not
// there end here, without hashing the whole name.
uint64_t ExtensionBit(std::string_view name) {
  size_t dot = name.rfind('.');
  uint32_t hash = FoldedHash(dot == std::string_view::npos ? std::string_view() : name.substr(dot));
  return uint64_t{1} << (hash & 63);
}

int CompareFolded(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = AsciiUpperChar(a[i]), y = AsciiUpperChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::shared_ptr<Listing> ReadListing(const std::string& dirPath) {
  auto listing = std::make_shared<Listing>();
  listing->path = dirPath;
  DIR* dir = opendir(dirPath.empty() ? "." : dirPath.c_str());
  if (dir == nullptr) return listing;
  struct stat self;
  if (fstat(dirfd(dir), &self) == 0) listing->device = self.st_dev;
  std::vector<ListedEntry> read;
  read.reserve(64);
  while (dirent* d = readdir(dir)) {
    std::string_view name(d->d_name);
    if (name == "." || name == "..") continue;
    ListedEntry entry;
    entry.name.assign(name);
    entry.type = d->d_type;
    for (size_t i = 0; i < 8; ++i) {
      unsigned char c = i < name.size() ? AsciiUpperChar(name[i]) : 0;
      entry.sortKey = (entry.sortKey << 8) | c;
    }
    listing->extensions |= ExtensionBit(name);
    read.push_back(std::move(entry));
  }
  closedir(dir);
  // Name order, as a case-preserving file system lists a directory, so that
  // a run announces its files in the same order on every machine. Indices
  // are sorted, so each entry moves once.
  std::vector<uint32_t> order(read.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&read](uint32_t x, uint32_t y) {
    const ListedEntry& a = read[x];
    const ListedEntry& b = read[y];
    if (a.sortKey != b.sortKey) return a.sortKey < b.sortKey;
    int folded = CompareFolded(a.name, b.name);
    return folded != 0 ? folded < 0 : a.name < b.name;
  });
  listing->entries.reserve(read.size());
  for (uint32_t i : order) listing->entries.push_back(std::move(read[i]));
  return listing;
}

void BuildHash(Listing& listing) {
  size_t capacity = 16;
  while (capacity < listing.entries.size() * 2) capacity *= 2;
  listing.slots.assign(capacity, -1);
  // Backwards, so each chain of names equal but for case runs in name order.
  for (size_t i = listing.entries.size(); i-- > 0;) {
    ListedEntry& entry = listing.entries[i];
    entry.foldedHash = FoldedHash(entry.name);
    size_t slot = entry.foldedHash & (capacity - 1);
    while (true) {
      int32_t held = listing.slots[slot];
      if (held < 0) {
        listing.slots[slot] = static_cast<int32_t>(i);
        break;
      }
      if (listing.entries[held].foldedHash == entry.foldedHash &&
          EqualIgnoringCase(listing.entries[held].name, entry.name)) {
        entry.nextSameFold = held;
        listing.slots[slot] = static_cast<int32_t>(i);
        break;
      }
      slot = (slot + 1) & (capacity - 1);
    }
  }
  listing.hashed = true;
}

}  // namespace

uint32_t attributeEpoch = 1;

std::shared_ptr<Listing> ListingFor(const std::string& dirPath) {
  if (dirPath.empty() && current) return current;
  auto found = cache.find(dirPath);
  if (found != cache.end()) return found->second;
  auto listing = ReadListing(dirPath);
  cache.emplace(dirPath, listing);
  if (dirPath.empty()) current = listing;
  return listing;
}

dev_t CurrentDevice() {
  if (current) return current->device;
  struct stat here;
  return stat(".", &here) == 0 ? here.st_dev : 0;
}

void ForgetListings() {
  cache.clear();
  current.reset();
}

int32_t FindLiteral(Listing& listing, std::string_view name) {
  if (!(listing.extensions & ExtensionBit(name))) return -1;
  if (!listing.hashed) BuildHash(listing);
  size_t mask = listing.slots.size() - 1;
  uint32_t hash = FoldedHash(name);
  size_t slot = hash & mask;
  int32_t first = -1;
  for (int32_t held; (held = listing.slots[slot]) >= 0; slot = (slot + 1) & mask) {
    const ListedEntry& candidate = listing.entries[held];
    if (candidate.foldedHash != hash || !EqualIgnoringCase(candidate.name, name)) continue;
    for (int32_t i = held; i >= 0; i = listing.entries[i].nextSameFold) {
      const ListedEntry& entry = listing.entries[i];
      if (entry.removed) continue;
      if (entry.name == name) return i;
      if (first < 0) first = i;
    }
    break;
  }
  return first;
}

bool ReadEntryAttributes(Listing& listing, ListedEntry& entry) {
  if (entry.readAt == attributeEpoch) return true;
  std::string path = listing.path + entry.name;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  uint32_t attributes;
  int64_t size = 0;
  if (S_ISREG(st.st_mode)) {
    attributes = kAttrArchive | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
    size = st.st_size;
  } else if (S_ISDIR(st.st_mode)) {
    attributes = kAttrDirectory | ((st.st_mode & S_IWUSR) ? 0 : kAttrReadOnly);
    if (st.st_dev != listing.device) attributes |= kAttrReparsePoint;
  } else if (S_ISLNK(st.st_mode)) {
    // A link is never followed: one to a directory is not entered, one to a
    // file (or to nothing) is removed itself, its target untouched.
    struct stat target;
    bool toDirectory = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    attributes = toDirectory ? (kAttrDirectory | kAttrReparsePoint) : kAttrArchive;
  } else {
    attributes = kAttrSystem;
  }
  if (!entry.name.empty() && entry.name[0] == '.') attributes |= kAttrHidden;
  entry.attributes = attributes;
  entry.size = size;
  entry.readAt = attributeEpoch;
  return true;
}

bool MayPassFilter(const ListedEntry& entry, uint32_t attrSet) {
  uint32_t known = entry.name[0] == '.' ? kAttrHidden : 0;
  switch (entry.type) {
    case DT_REG: return PassesFilter(known | kAttrArchive, attrSet);
    case DT_DIR: return PassesFilter(known | kAttrDirectory, attrSet);
    case DT_LNK:
    case DT_UNKNOWN: return PassesFilter(known, attrSet & ~kOnlyDirectories);
    default: return PassesFilter(known | kAttrSystem, attrSet);
  }
}

bool TypeSettlesFilter(const ListedEntry& entry) {
  return entry.type == DT_REG || entry.type == DT_DIR;
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
        auto listing = ListingFor(resolved);
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
