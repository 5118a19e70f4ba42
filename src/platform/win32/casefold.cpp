// Letter case on Windows, folded as the file system folds it: the system's
// upper-case table (CompareStringOrdinal, and LCMapStringEx without
// linguistic casing) over the names' wide form in the process code page.
// Bytes that are no text in that code page fold a-z only.
#include <windows.h>

#include "common/match.h"
#include "common/names.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kHashSeed = 2166136261u;

uint32_t Mix(uint32_t hash, uint32_t unit) { return (hash ^ unit) * 16777619u; }

bool IsAscii(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

uint32_t AsciiHash(std::string_view name) {
  uint32_t hash = kHashSeed;
  for (char c : name) hash = Mix(hash, static_cast<unsigned char>(AsciiUpperChar(c)));
  return hash;
}

// A name's wide form, on the stack unless the name is unusually long.
struct WideName {
  wchar_t local[320];
  std::wstring spilled;
  wchar_t* data = local;
  int size = 0;
};

// False when the bytes are no text in the process code page.
bool ToWide(std::string_view name, WideName& wide) {
  if (name.empty()) return true;
  if (name.size() > 0x7FFFFFFF) return false;
  int length = static_cast<int>(name.size());
  int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, wide.local,
                              static_cast<int>(std::size(wide.local)));
  if (n <= 0) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, nullptr, 0);
    if (n <= 0) return false;
    wide.spilled.resize(static_cast<size_t>(n));
    wide.data = wide.spilled.data();
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), length, wide.data, n);
  }
  wide.size = n;
  return true;
}

}  // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (EqualIgnoringCase(a, b)) return true;
  if (IsAscii(a) && IsAscii(b)) return false;
  WideName wideA, wideB;
  if (!ToWide(a, wideA) || !ToWide(b, wideB)) return false;
  return CompareStringOrdinal(wideA.data, wideA.size, wideB.data, wideB.size, TRUE) == CSTR_EQUAL;
}

uint32_t HashIgnoringCase(std::string_view name) {
  // An ASCII name's wide form is its bytes, and only a-z change in it.
  if (IsAscii(name)) return AsciiHash(name);
  WideName wide;
  if (!ToWide(name, wide)) return AsciiHash(name);
  WideName upper;
  if (wide.size > static_cast<int>(std::size(upper.local))) {
    upper.spilled.resize(static_cast<size_t>(wide.size));
    upper.data = upper.spilled.data();
  }
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data, wide.size, upper.data,
                    wide.size, nullptr, nullptr, 0) != wide.size)
    return AsciiHash(name);
  uint32_t hash = kHashSeed;
  for (int i = 0; i < wide.size; ++i) hash = Mix(hash, static_cast<uint16_t>(upper.data[i]));
  return hash;
}
