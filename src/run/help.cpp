#include "run/help.h"

#include <string>

#include "common/names.h"
#include "platform/platform.h"
#include "run/console.h"
#include "run/messages.h"

// A help line alternates message text and file names: message, name,
// message, name, ...
static void HelpLine(std::initializer_list<std::string_view> parts) {
  bool name = false;
  for (std::string_view part : parts) {
    if (name)
      WriteName(part);
    else
      Write(part);
    name = !name;
  }
  WriteLine();
}

void ShowHelp() {
  std::string path = ProgramPath();
  std::string exe(NamePart(path));
  std::string base(BaseName(path));
  std::string tab = base + ".TAB";
  std::string ext = base + ".EXT";
  HelpLine({text::kHelpCall, exe, text::kHelpCallTail});
  HelpLine({text::kHelpDirectory});
  HelpLine({text::kHelpOptions});
  HelpLine({text::kHelpQuery});
  HelpLine({text::kHelpS});
  HelpLine({text::kHelpY});
  HelpLine({text::kHelpN});
  HelpLine({text::kHelpT, tab, "."});
  HelpLine({text::kHelpFile, tab, text::kHelpTabTail});
  HelpLine({text::kHelpFile, ext, text::kHelpExtTail});
  if (kNativeStyle == PathStyle::Windows)
    HelpLine({text::kHelpFiles, tab, text::kHelpAnd, ext, text::kHelpBeside, exe, "."});
  else
    HelpLine({text::kHelpSought, exe, text::kHelpSoughtTail});
}
