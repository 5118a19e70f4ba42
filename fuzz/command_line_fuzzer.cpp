// The command-line splitter against a state-machine reference, and the words
// it yields parsed in a scratch tree: the arguments handled before the run
// ends must account for every option set and the directory entered. Only
// directory arguments that stay below the scratch root are parsed, and
// parsing never deletes anything.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/names.h"
#include "fuzz_support.h"
#include "platform/platform.h"
#include "run/command_line.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

namespace {

using Words = std::vector<std::string>;

// Outside a quoted stretch bytes 1 to 32 end a word; a quote opens or closes
// a stretch and is dropped; empty words vanish; the first is the program.
Words ReferenceSplit(std::string_view line) {
  Words words;
  std::string word;
  bool quoted = false;
  for (char c : line) {
    unsigned char b = static_cast<unsigned char>(c);
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && b >= 1 && b <= 32) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  if (!words.empty()) words.erase(words.begin());
  return words;
}

// On Linux a word beginning with "-" is never a directory: -h and --help
// show the help screen, --version the version line, any other is an error.
bool IsOptionWord(const std::string& word) {
  return (word[0] == '/' && word.size() <= 2) || word[0] == '-';
}

bool EndsWithHelp(const std::string& word) {
  return word == "/?" || word == "-h" || word == "--help" || word == "--version";
}

bool IsValidOption(const std::string& word) {
  return word[0] == '/' && word.size() == 2 &&
         std::string_view("NSTY?").find(AsciiUpperChar(word[1])) != std::string_view::npos;
}

bool Has(const Words& words, size_t count, char letter) {
  for (size_t i = 0; i < count; ++i)
    if (IsValidOption(words[i]) && AsciiUpperChar(words[i][1]) == letter) return true;
  return false;
}

// The start lies two levels below the scratch root and the tree holds no
// links, so a relative path that never climbs more than two levels stays
// inside.
bool StaysInside(std::string_view path) {
  if (path.empty() || path[0] == '/') return false;
  int depth = 0;
  while (true) {
    size_t slash = path.find('/');
    std::string_view part = path.substr(0, slash);
    if (part == "..") {
      if (--depth < -2) return false;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

const std::string& Start() {
  static const std::string start = [] {
    const std::string& root = ScratchRoot();
    for (const char* dir :
         {"/A", "/A/B", "/A/B/SUB", "/A/B/SUB/DEEP", "/A/B/sp ace", "/A/B/\xE4", "/A/OTHER"})
      FUZZ_REQUIRE(mkdir((root + dir).c_str(), 0700) == 0);
    PutScratchFile("A/B/FILE.TXT", "");
    return root + "/A/B";
  }();
  return start;
}

// Standard output goes to this scratch file, emptied before each parse.
int outputReader = -1;
// Where the fuzzer was started: libFuzzer reads its inputs relative to it.
std::string home;

std::string TakeOutput() {
  Flush();
  std::string out;
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(outputReader, buffer, sizeof buffer, at)) > 0; at += n)
    out.append(buffer, size_t(n));
  FUZZ_REQUIRE(ftruncate(STDOUT_FILENO, 0) == 0 && lseek(STDOUT_FILENO, 0, SEEK_SET) == 0);
  return out;
}

// The position an error line names, or 0 when the output is none.
size_t ErrorPosition(const std::string& out) {
  std::string_view text = out;
  if (!text.starts_with(text::kParameterError.view()) || !text.ends_with(".\r\n")) return 0;
  text.remove_prefix(text::kParameterError.view().size());
  text.remove_suffix(3);
  size_t position = 0;
  for (char c : text) {
    FUZZ_REQUIRE(c >= '0' && c <= '9');
    position = position * 10 + size_t(c - '0');
  }
  return position;
}

void CheckParse(const Words& words) {
  FUZZ_REQUIRE(ChangeDirectory(Start()));
  ResetRunState();
  TakeOutput();
  CommandLineResult result = ParseArguments(words);
  std::string out = TakeOutput();

  std::string where = CurrentDirectory();
  char* real = getcwd(nullptr, 0);
  FUZZ_REQUIRE(real != nullptr && where == real);
  free(real);
  FUZZ_REQUIRE(where == ScratchRoot() || where.starts_with(ScratchRoot() + "/"));

  // How many words were handled before the run went on or ended.
  size_t handled = words.size();
  if (!result.endRun) {
    FUZZ_REQUIRE(result.exitCode == 0 && out.empty());
  } else if (result.exitCode == 0) {
    handled = 0;
    while (handled < words.size() && !EndsWithHelp(words[handled])) ++handled;
    FUZZ_REQUIRE(handled < words.size() && !out.empty());
  } else {
    FUZZ_REQUIRE(result.exitCode == 1);
    size_t position = ErrorPosition(out);
    FUZZ_REQUIRE(position >= 1 && position <= words.size());
    handled = position - 1;
  }
  size_t directories = 0;
  const std::string* directory = nullptr;
  for (size_t i = 0; i < handled; ++i) {
    if (IsOptionWord(words[i])) {
      FUZZ_REQUIRE(IsValidOption(words[i]) && !EndsWithHelp(words[i]));
    } else {
      ++directories;
      directory = &words[i];
    }
  }
  FUZZ_REQUIRE(directories <= 1);
  FUZZ_REQUIRE(run.askAtStart == !Has(words, handled, 'N'));
  FUZZ_REQUIRE(run.recurse == Has(words, handled, 'S'));
  FUZZ_REQUIRE(run.useMasks == !Has(words, handled, 'T'));
  FUZZ_REQUIRE(run.askEachFile == !Has(words, handled, 'Y'));
  FUZZ_REQUIRE(run.driveNumber == 0);
  if (result.endRun && result.exitCode == 1) {
    // The word at fault: a bad option, a second directory, or a first one
    // that could not be entered.
    const std::string& fault = words[handled];
    if (!IsOptionWord(fault) && directories == 0) {
      FUZZ_REQUIRE(where == Start() && PlaceText() == Start());
      return;
    }
    FUZZ_REQUIRE(IsOptionWord(fault) ? !IsValidOption(fault) : directories == 1);
  }
  FUZZ_REQUIRE(PlaceText() == (directory != nullptr ? *directory : Start()));
  if (directory == nullptr) FUZZ_REQUIRE(where == Start());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The error lines are read back in the C locale's form, code page 866 with
  // CR LF, whatever locale the fuzzer was started in.
  setenv("LC_ALL", "C", 1);
  StartPlatform(0, nullptr);
  home = CurrentDirectory();
  std::string output = PutScratchFile("output", "");
  int writer = open(output.c_str(), O_WRONLY);
  outputReader = open(output.c_str(), O_RDONLY);
  FUZZ_REQUIRE(writer >= 0 && outputReader >= 0 && dup2(writer, STDOUT_FILENO) == STDOUT_FILENO);
  close(writer);
  StartConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The system hands the program a C string: a NUL byte ends it.
  std::string line(BytesOf(data, size));
  Words words = SplitCommandLine(line.c_str());
  FUZZ_REQUIRE(words == ReferenceSplit(line.substr(0, line.find('\0'))));
  for (const std::string& word : words) {
    FUZZ_REQUIRE(!word.empty() && word.find('"') == std::string::npos);
    if (!IsOptionWord(word) && !StaysInside(word)) return 0;
  }
  CheckParse(words);
  FUZZ_REQUIRE(ChangeDirectory(home));
  return 0;
}
