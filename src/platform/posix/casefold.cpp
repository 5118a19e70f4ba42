// Letter case on POSIX: the layer ignores it for a-z only, as the program
// always has; every other byte compares as it is.
#include <cstring>

#include "common/match.h"
#include "platform/posix/listing.h"
#include "platform/platform.h"

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return EqualIgnoringCase(a, b);
}

namespace {

uint64_t Mix(uint64_t hash, uint64_t bytes) {
  hash = (hash ^ FoldEight(bytes)) * 0x9E3779B97F4A7C15u;
  return hash ^ (hash >> 29);
}

}  // namespace

// Names are hashed eight bytes at a time: every directory read hashes each
// name it holds.
uint32_t HashIgnoringCase(std::string_view name) {
  uint64_t hash = name.size();
  size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    uint64_t bytes;
    std::memcpy(&bytes, name.data() + i, 8);
    hash = Mix(hash, bytes);
  }
  if (i < name.size()) {
    uint64_t bytes = 0;
    for (size_t shift = 0; i < name.size(); ++i, shift += 8)
      bytes |= uint64_t{static_cast<unsigned char>(name[i])} << shift;
    hash = Mix(hash, bytes);
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}
