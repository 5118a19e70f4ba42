// What the searches and the walk made ahead for the searches said to come
// share. Internal to src/platform.
#pragma once

#include <cstring>
#include <string_view>
#include <vector>

#include "common/match.h"
#include "platform/core/listing.h"

// The extension "*.EXT" with one dot searches for, which finds exactly the
// names of that extension; empty for any other pattern.
std::string_view ExtensionSearched(std::string_view pattern);

// A text that every name the pattern matches holds as it is; may be empty.
std::string_view RequiredRun(const PreparedPattern& prepared);

// True when `name` holds `run` (not empty) byte for byte. Its last byte is
// looked for first: a run such as ".~" ends in a byte most names lack.
inline bool HoldsRun(std::string_view name, std::string_view run) {
  if (run.size() > name.size()) return false;
  size_t before = run.size() - 1;
  const char* at = name.data() + before;
  const char* end = name.data() + name.size();
  while (at < end) {
    at = static_cast<const char*>(std::memchr(at, run.back(), static_cast<size_t>(end - at)));
    if (at == nullptr) return false;
    if (std::memcmp(at - before, run.data(), before) == 0) return true;
    ++at;
  }
  return false;
}

// Hands over, into `matched`, what the walk made ahead found for a search
// for `pattern` with `attrSet` in `listing`, the next one said to come of
// that pattern; false when the walk made none for it.
bool TakeMatchedAhead(Listing& listing, std::string_view pattern, uint32_t attrSet,
                      std::vector<int32_t>& matched);
