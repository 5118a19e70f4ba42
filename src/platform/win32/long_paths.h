// The "\\?\" form of a Windows path, which the wide functions take past
// MAX_PATH and take literally (no trailing dot or space dropped), and the
// form users know the same path by. Plain text work on any character type,
// kept apart from the kernel32 calls so it is tested on every build; no
// allocation, as the break handler climbs back through it.
#pragma once

#include <cstddef>

namespace long_paths {

template <class Char>
constexpr bool IsDriveLetter(Char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

template <class Char>
constexpr bool StartsWith(const Char* path, size_t length, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i)
    if (i >= length || path[i] != static_cast<Char>(prefix[i])) return false;
  return true;
}

// Writes the prefixed form of the full path `full` (`length` characters)
// and its NUL into `out` (room for `room` characters): `C:\x` as `\\?\C:\x`,
// `\\server\share\x` as `\\?\UNC\server\share\x`, a prefixed one as it is.
// Returns the length written before the NUL, or 0 when `full` is no full
// path of a drive or a share (relative, `\x`, a `\\.\` device) or does not
// fit.
template <class Char>
size_t WriteLongForm(const Char* full, size_t length, Char* out, size_t room) {
  const char* prefix = nullptr;
  size_t kept = 0;  // characters of `full` the prefix stands for
  if (StartsWith(full, length, "\\\\?\\")) {
    prefix = "";
  } else if (length >= 3 && IsDriveLetter(full[0]) && full[1] == ':' && full[2] == '\\') {
    prefix = "\\\\?\\";
  } else if (StartsWith(full, length, "\\\\") && length > 2 && full[2] != '\\' &&
             !StartsWith(full, length, "\\\\.\\")) {
    prefix = "\\\\?\\UNC\\";
    kept = 2;
  } else {
    return 0;
  }
  size_t prefixLength = 0;
  while (prefix[prefixLength] != '\0') ++prefixLength;
  size_t total = prefixLength + length - kept;
  if (total + 1 > room) return 0;
  for (size_t i = 0; i < prefixLength; ++i) out[i] = static_cast<Char>(prefix[i]);
  for (size_t i = kept; i < length; ++i) out[prefixLength + i - kept] = full[i];
  out[total] = Char{};
  return total;
}

// Rewrites in place the path `path` (`length` characters, NUL after them)
// as users know it: `\\?\C:\x` as `C:\x`, `\\?\UNC\server\share\x` as
// `\\server\share\x`; any other path stays. Returns the new length; the
// NUL follows it.
template <class Char>
size_t ToShownForm(Char* path, size_t length) {
  size_t from = 0;
  size_t to = 0;
  if (StartsWith(path, length, "\\\\?\\UNC\\")) {
    from = 8;
    to = 2;  // the share's own "\\" stays
  } else if (StartsWith(path, length, "\\\\?\\") && length >= 7 && IsDriveLetter(path[4]) &&
             path[5] == ':' && path[6] == '\\') {
    from = 4;
  } else {
    return length;
  }
  for (size_t i = from; i <= length; ++i) path[to + i - from] = path[i];
  return length - (from - to);
}

}  // namespace long_paths
