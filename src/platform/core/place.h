// What a directory the descent stands in or below holds on both builds,
// besides what each backend holds it by (a descriptor, or a full path).
// Internal to src/platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/listing.h"
#include "platform/core/readahead.h"

struct PlaceBase {
  std::string name;      // as entered from the level above
  DirectoryStamp stamp;  // as read when it was entered
  uint64_t askedIn = 0;  // the read-ahead group its listing was asked for in
  bool listed = false;   // its listing was read since it was entered
  uint64_t aheadGroup = 0;  // the group its subdirectories were asked for in
};

// Supplied by each backend: the directory the process stands in, nullptr
// where it is not known.
PlaceBase* CurrentPlace();

// The levels of a descent on either build, the process standing in the last.
template <typename Place>
struct Way {
  std::vector<Place> levels;
  bool lost = false;  // a climb could not prove where the process stands

  void Forget() {
    levels.clear();
    lost = false;
  }
  // The top is made anew unless it is all there is: the sweep before the
  // descent knew it, with the subdirectories its listing asked for.
  bool NeedsTop() const { return levels.size() != 1 || lost; }

  // Whether the directory below the last level, with these attributes and
  // this identity, may be entered, as read when it is opened: Entered where
  // MayEnter lets it; PassedOver where it does not; Refused where it is one
  // of the levels the descent stands in or below, which a name the system
  // reads as "." or "..", or a directory bound under itself, would lead back
  // to, and the descent would go round for ever.
  Entry Admits(uint32_t attributes, const DirectoryStamp& stamp) const {
    if (!MayEnter(attributes)) return Entry::PassedOver;
    for (const Place& level : levels)
      if (level.stamp.SameDirectory(stamp)) return Entry::Refused;
    return Entry::Entered;
  }
};
