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
};

// Returns the directory the process stands in, made the top when there is
// none yet; nullptr where a climb could not prove where the process stands.
Place* Here();
// Forgets every level: the process was moved elsewhere, to the directory
// messages name `as`.
void ForgetPlaces(std::string_view as);
