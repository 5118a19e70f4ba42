// Letter case on POSIX: a-z and A-Z only, as the program has always folded.
#include "common/match.h"
#include "common/names.h"
#include "platform/platform.h"

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return EqualIgnoringCase(a, b);
}

uint32_t HashIgnoringCase(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(AsciiUpperChar(c))) * 16777619u;
  return hash;
}
