#include "engine/descent.h"

#include <vector>

#include "common/names.h"
#include "engine/sweep.h"
#include "platform/platform.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

namespace {

// The way down from the directory the descent began in, a name a level,
// borrowed from the searches each level holds open anyway.
struct Level {
  const std::string* name;
  const Level* up;
};

std::string PathDown(const std::string& top, const Level* level) {
  std::vector<const std::string*> names;
  for (; level != nullptr; level = level->up) names.push_back(level->name);
  std::string path = top;
  for (auto name = names.rbegin(); name != names.rend(); ++name) path = JoinPath(path, **name);
  return path;
}

void Descend(const std::string& top, const Level* here) {
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
        Level below{&rec.name, here};
        Descend(top, &below);
        {
          // Windows resolves ".." by name: it fails when someone removed
          // this level's directory while the level below was swept. The
          // way down from the top then leads to the nearest level left.
          StopGate gate;
          if (!ChangeDirectory("..")) ChangeDirectory(PathDown(top, here));
        }
        run.currentDirText = CurrentDirectory();
      } else {
        Write(text::kCannotEnter);
        WriteName(JoinPath(run.currentDirText, rec.name));
        WriteChar('.');
        WriteLine();
        run.fellShort = true;
      }
    }
    found = SearchNext(rec);
  }
  SearchClose(rec);
}

}  // namespace

void DescendTree() {
  ListSubdirectoriesAhead();
  Descend(CurrentDirectory(), nullptr);
}
