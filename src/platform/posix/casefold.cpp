// Letter case on POSIX: the layer ignores it for a-z only, as the program
// always has; every other byte compares as it is.
#include "common/match.h"
#include "common/names.h"
#include "platform/platform.h"

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return EqualIgnoringCase(a, b);
}

uint32_t HashIgnoringCase(std::string_view name) {
  return HashFoldedByWords(name, AsciiUpperWords());
}
