// Letter case on POSIX: the layer ignores it for a-z only, as the program
// always has; every other byte compares as it is.
#include "common/names.h"
#include "platform/posix/listing.h"
#include "platform/platform.h"

namespace {

// The fold as a type of its own, so that it is inlined wherever it is used.
struct Fold {
  uint64_t operator()(uint64_t bytes) const { return FoldEight(bytes); }
};

}  // namespace

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  return EqualFoldedByWords(a, b, Fold());
}

uint32_t HashIgnoringCase(std::string_view name) { return HashFoldedByWords(name, Fold()); }
