#include "engine/descent.h"

#include "common/names.h"
#include "engine/sweep.h"
#include "platform/platform.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

void DescendTree() {
  SweepDirectory();
  TSearchRec rec;
  bool found = SearchFirst("*.*", kEveryEntry | kOnlyDirectories, rec);
  while (found) {
    // Only a plain directory is entered: links, mount points, hidden,
    // read-only and dot directories are passed over without a word.
    if (rec.name[0] != '.' && rec.attributes == kAttrDirectory) {
      bool entered;
      {
        StopGate gate;
        entered = EnterSubdirectory(rec.name);
      }
      run.currentDirText = CurrentDirectory();
      if (entered) {
        DescendTree();
        {
          StopGate gate;
          ChangeDirectory("..");
        }
        run.currentDirText = CurrentDirectory();
      } else {
        Write(text::kCannotEnter);
        WriteName(JoinPath(run.currentDirText, rec.name));
        WriteChar('.');
        WriteLine();
      }
    }
    found = SearchNext(rec);
  }
  SearchClose(rec);
}
