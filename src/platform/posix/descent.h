// Where the process stands on POSIX: the top of a descent, or the directory
// the process was put in, and each level a descent entered below it, each
// held by what identifies it. Internal to the POSIX backend.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "platform/core/place.h"
#include "platform/posix/fd.h"
#include "platform/posix/listing.h"

// A directory the process stands in or below; its name is empty at the top.
struct Place : PlaceBase {
  MountTag mount;
  Fd fd;  // held for the top and the last few levels
};

// Returns the directory the process stands in, made the top when there is
// none yet; nullptr where it cannot be identified, or where a climb could
// not prove where the process stands.
Place* Here();
