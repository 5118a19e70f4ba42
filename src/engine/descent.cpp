#include "engine/descent.h"

#include <vector>

#include "common/names.h"
#include "engine/sweep.h"
#include "platform/platform.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

namespace {

// A directory the descent stands in or below: its search for
// subdirectories, open, and the length of its text in currentDirText. The
// levels live on the heap, so no depth of tree can exhaust the stack.
struct Level {
  TSearchRec rec;
  bool found = false;
  size_t textLength = 0;
};

void OpenLevel(std::vector<Level>& levels) {
  Level& level = levels.emplace_back();
  level.textLength = run.currentDirText.size();
  // Only the names: whether a subdirectory is entered is told by what it is
  // when it is entered.
  level.found = SearchFirst("*.*", kEveryEntry | kOnlyDirectories | kNamesOnly, level.rec);
}

// Enters the subdirectory the search of the innermost level stands at and
// sweeps it; false when it is not one to enter, or cannot be entered.
bool GoDown(const TSearchRec& rec) {
  // Only a plain directory is entered: links, mount points, hidden,
  // read-only and dot directories are passed over without a word.
  if (rec.name[0] == '.' || rec.attributes != kAttrDirectory) return false;
  Entry entry = EnterSubdirectory(rec.name);
  if (entry == Entry::Refused) CannotChangeTo(JoinPath(run.currentDirText, rec.name));
  if (entry != Entry::Entered) return false;
  AppendToPath(run.currentDirText, rec.name);
  SweepDirectory();
  return true;
}

// Leaves the innermost level for the one above. A directory that cannot be
// proven to be the one the descent came from is left alone with the rest of
// its subdirectories, and the descent climbs on.
void GoUp(std::vector<Level>& levels) {
  SearchClose(levels.back().rec);
  levels.pop_back();
  Climb climb = LeaveSubdirectory();
  Level& up = levels.back();
  run.currentDirText.resize(up.textLength);
  if (climb == Climb::Unproven) CannotChangeTo(run.currentDirText);
  up.found = climb == Climb::Back && SearchNext(up.rec);
}

}  // namespace

void DescendTree() {
  ListSubdirectoriesAhead();
  SweepDirectory();
  // Below the top, directories are named from where the process stands, as
  // the system would name it.
  run.currentDirText = CurrentDirectory();
  BeginDescent();
  std::vector<Level> levels;
  OpenLevel(levels);
  while (true) {
    Level& here = levels.back();
    if (here.found) {
      if (GoDown(here.rec))
        OpenLevel(levels);
      else
        here.found = SearchNext(here.rec);
    } else if (levels.size() > 1) {
      GoUp(levels);
    } else {
      break;
    }
  }
  SearchClose(levels.back().rec);
}
