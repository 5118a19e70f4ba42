#include "run/command_line.h"

#include "common/names.h"
#include "platform/platform.h"
#include "run/console.h"
#include "run/help.h"
#include "run/messages.h"
#include "run/run_state.h"

namespace {

bool IsSeparatorByte(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32;
}

CommandLineResult ParameterError(size_t position) {
  Write(text::kParameterError);
  WriteInt(static_cast<int64_t>(position), 0);
  WriteChar('.');
  WriteLine();
  return {true, 1};
}

// An absolute POSIX path begins with "/" too; only a one-letter word is an
// option there.
bool IsOption(const std::string& argument) {
  if (argument.empty() || argument[0] != '/') return false;
  return kNativeStyle == PathStyle::Windows || argument.size() <= 2;
}

bool IsVersionRequest(const std::string& argument) {
  return kNativeStyle == PathStyle::Posix && argument == "--version";
}

// The dash words a Linux user tries first. Any other word beginning with "-"
// is refused rather than taken for a directory, so that a mistyped option can
// never start a cleaning; a directory of such a name is given as ./-name.
CommandLineResult DashArgument(const std::string& argument, size_t position) {
  if (argument == "-h" || argument == "--help") {
    ShowHelp();
    return {true, 0};
  }
  if (IsVersionRequest(argument)) {
    Write(text::kBanner3);
    WriteLine();
    return {true, 0};
  }
  return ParameterError(position);
}

std::vector<std::string> CommandLineArguments() {
  const char* raw = RawCommandLine();
  return raw != nullptr ? SplitCommandLine(raw) : SplitArguments();
}

}  // namespace

std::vector<std::string> SplitCommandLine(const char* line) {
  std::vector<std::string> words;
  const char* p = line;
  while (true) {
    while (IsSeparatorByte(*p)) ++p;
    if (*p == '\0') break;
    std::string word;
    while (*p != '\0' && !IsSeparatorByte(*p)) {
      if (*p != '"') {
        word += *p++;
        continue;
      }
      ++p;
      while (*p != '\0' && *p != '"') word += *p++;
      if (*p == '"') ++p;
    }
    if (!word.empty()) words.push_back(word);
  }
  if (!words.empty()) words.erase(words.begin());
  return words;
}

CommandLineResult ParseArguments(const std::vector<std::string>& arguments) {
  bool haveDirectory = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    size_t position = i + 1;
    const std::string& argument = arguments[i];
    if (kNativeStyle == PathStyle::Posix && argument.starts_with('-'))
      return DashArgument(argument, position);
    if (IsOption(argument)) {
      std::string s = AsciiUpper(argument);
      if (s.size() > 2) return ParameterError(position);
      switch (s.size() == 2 ? s[1] : '\0') {
        case '?': ShowHelp(); return {true, 0};
        case 'N': run.askAtStart = false; break;
        case 'S': run.recurse = true; break;
        case 'T': run.useMasks = false; break;
        case 'Y': run.askEachFile = false; break;
        default: return ParameterError(position);
      }
      continue;
    }
    if (haveDirectory) return ParameterError(position);
    haveDirectory = true;
    // Windows names ignore case, so the upper-cased text names the same
    // directory; a POSIX file system tells case apart, so the text stays as
    // typed there. Messages name it as given.
    std::string directory = kNativeStyle == PathStyle::Windows ? AsciiUpper(argument) : argument;
    bool entered;
    {
      StopGate gate;
      entered = ChangeDirectory(directory);
    }
    if (!entered) return ParameterError(position);
    // Only a drive letter names a drive; any other directory lies on the
    // current drive, which the change has made its own.
    if (directory.size() >= 2 && directory[1] == ':') {
      char letter = AsciiUpperChar(directory[0]);
      if (letter >= 'A' && letter <= 'Z') run.driveNumber = static_cast<uint8_t>(letter - 64);
    }
  }
  return {};
}

CommandLineResult ParseCommandLine() { return ParseArguments(CommandLineArguments()); }

bool VersionRequestedFirst() {
  std::vector<std::string> arguments = CommandLineArguments();
  return !arguments.empty() && IsVersionRequest(arguments[0]);
}
