// Where the process stands on Windows during a descent: the top, and each
// level entered below it, each known by what identifies it. Internal to the
// Windows backend.
#pragma once

#include <string>
#include <string_view>

#include "platform/core/place.h"

// A directory the descent stands in or below; its name is the whole path at
// the top.
struct Place : PlaceBase {
  std::string path;  // the whole path, "" where it is not known
  // Reached by the "\\?\" form of its path only: its name, or one above it,
  // is one the system would read as another, and so would it read every
  // name relative to the current directory there.
  bool literalOnly = false;
};

// Returns the directory the process stands in, made the top when there is
// none yet; nullptr where a climb could not prove where the process stands.
Place* Here();
// True where the process stands in a level that is literalOnly.
bool StandsByLiteralPathOnly();
