#include "engine/descent.h"

#include <string>

#include "common/names.h"
#include "engine/sweep.h"
#include "platform/platform.h"

// The levels are the platform's own, held on the heap, so no depth of tree
// can exhaust the stack; the descent only says what to do at each.
void DescendTree() {
  ListSubdirectoriesAhead();
  SweepDirectory();
  BeginDescent();
  std::string name;
  while (true) {
    if (NextSubdirectory(name)) {
      Entry entry = EnterSubdirectory(name);
      if (entry == Entry::Refused) CannotChangeTo(JoinPath(PlaceText(), name));
      if (entry == Entry::Entered) SweepDirectory();
      continue;
    }
    // A directory that cannot be proven to be the one the descent came from
    // is left alone with the rest of its subdirectories, and the descent
    // climbs on.
    Climb climb = LeaveSubdirectory();
    if (climb == Climb::AtTop) break;
    if (climb == Climb::Unproven) CannotChangeTo(PlaceText());
  }
}
