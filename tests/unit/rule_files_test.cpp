#include "rules/rule_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "rules/tables.h"
#include "scratch_dir.h"

using namespace std::string_literals;

namespace {

using Texts = std::vector<std::string>;

const Texts kBuiltInRules = {".PAS .EXE .TPU .TPP .TPW ", ".FTN .FOR .EXE .OBJ ", ".FOR .EXE .OBJ ",
                             ".BAK .BAK "};

template <typename Slot>
Texts Stored(const Slot* slots, int count) {
  Texts texts;
  for (int i = 0; i < count; ++i) texts.emplace_back(SlotView(slots[i]));
  return texts;
}

Texts MasksFrom(const std::string& path, PathStyle style = kNativeStyle) {
  MaskList list;
  LoadMaskFileFrom(path, list, style);
  return Stored(list.masks, list.count);
}

Texts RulesFrom(const std::string& path, PathStyle style = kNativeStyle) {
  RuleTable table;
  LoadRuleFileFrom(path, table, style);
  return Stored(table.rules, table.count);
}

Texts Masks(const std::string& bytes, PathStyle style = kNativeStyle) {
  return MasksFrom(ScratchDir().Put("kelvo.TAB", bytes), style);
}
Texts Rules(const std::string& bytes, PathStyle style = kNativeStyle) {
  return RulesFrom(ScratchDir().Put("kelvo.EXT", bytes), style);
}

// Printable in a failure message: control bytes and bytes from 128 up as \xNN.
std::string Shown(const std::string& bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    if (c >= 32 && c < 127) {
      shown += char(c);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  return shown;
}

// `utf8` as UTF-16 with its byte-order mark, or nothing where the bytes are
// no UTF-8 text.
std::optional<std::string> Utf16WithMark(const std::string& utf8, bool bigEndian) {
  std::string out;
  auto put = [&](unsigned unit) {
    char high = char(unit >> 8), low = char(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  };
  put(0xFEFF);
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = utf8[i];
    int tail = c < 0x80 ? 0 : c < 0xC2 ? -1 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : -1;
    if (tail < 0 || i + tail >= utf8.size()) return std::nullopt;
    unsigned code = c & (0x7F >> tail);
    for (int k = 1; k <= tail; ++k) {
      unsigned char next = utf8[i + k];
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = code << 6 | (next & 0x3F);
    }
    i += tail + 1;
    if (code < 0x10000) {
      put(code);
    } else {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + (code & 0x3FF));
    }
  }
  return out;
}

// A companion file's bytes as editors save the same text: as they are, after
// a UTF-8 byte-order mark, and (where they are UTF-8 text) as UTF-16 in both
// byte orders. Each must read alike.
Texts SavedForms(const std::string& bytes) {
  Texts forms = {bytes, "\xEF\xBB\xBF" + bytes};
  for (bool bigEndian : {false, true})
    if (auto utf16 = Utf16WithMark(bytes, bigEndian)) forms.push_back(*utf16);
  return forms;
}

struct Case {
  std::string bytes;
  Texts want;
};

void ExpectRules(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    for (const std::string& form : SavedForms(c.bytes))
      EXPECT_EQ(Rules(form), c.want) << Shown(form);
}

void ExpectMasks(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    for (const std::string& form : SavedForms(c.bytes))
      EXPECT_EQ(Masks(form), c.want) << Shown(form);
}

std::string Repeat(std::string_view piece, int times) {
  std::string text;
  while (times-- > 0) text += piece;
  return text;
}

// Peak resident memory of this process so far, in kilobytes.
long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A file of `size` bytes of 'X' with no line end, written a chunk at a time
// so the test itself stays small in memory.
std::string PutLongLine(const ScratchDir& dir, const char* name, size_t size) {
  std::string chunk(1 << 20, 'X');
  std::string path = dir.Put(name, "");
  FILE* file = fopen(path.c_str(), "ab");
  for (size_t written = 0; written < size; written += chunk.size())
    fwrite(chunk.data(), 1, chunk.size(), file);
  fclose(file);
  return path;
}

}  // namespace

TEST(RuleFile, CompanionFilesSitBesideTheProgramUnderItsBaseName) {
  EXPECT_EQ(CompanionPath("/x/y/kelvo", ".TAB"), "/x/y/kelvo.TAB");
  EXPECT_EQ(CompanionPath("/x/y/kelvo", ".EXT"), "/x/y/kelvo.EXT");
  EXPECT_EQ(CompanionPath("/x/y/kelvo.bin", ".TAB"), "/x/y/kelvo.TAB");
  EXPECT_EQ(CompanionPath("/x/y/kelvo.v2.bin", ".EXT"), "/x/y/kelvo.v2.EXT");
  // A dot in a directory name is no extension of the program.
  EXPECT_EQ(CompanionPath("/x.d/kelvo", ".TAB"), "/x.d/kelvo.TAB");
  EXPECT_EQ(CompanionPath("kelvo", ".EXT"), "kelvo.EXT");
}

TEST(RuleFile, CompanionFilesAreLookedForBesideTheProgramThenInTheConfigDirectories) {
  EXPECT_EQ(
      CompanionPaths("/usr/bin/kelvo", ".TAB", {"/h/.config/", "/etc/xdg/"}),
      (Texts{"/usr/bin/kelvo.TAB", "/h/.config/kelvo/kelvo.TAB", "/etc/xdg/kelvo/kelvo.TAB"}));
  EXPECT_EQ(CompanionPaths("/opt/tidy.bin", ".EXT", {"/c/"}),
            (Texts{"/opt/tidy.EXT", "/c/kelvo/tidy.EXT"}));
}

// The XDG rules: a variable unset, empty or relative counts as not set.
TEST(RuleFile, ConfigDirectoriesFollowTheXdgVariables) {
  const char* names[] = {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* value = getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
  }
  struct XdgCase {
    const char* configHome;  // nullptr: unset
    const char* configDirs;
    Texts want;
  };
  const XdgCase cases[] = {
      {nullptr, nullptr, {"/h/.config/", "/etc/xdg/"}},
      {"", "", {"/h/.config/", "/etc/xdg/"}},
      {"rel/dir", "rel", {"/h/.config/"}},
      {"/c", "/a::rel:/b/", {"/c/", "/a/", "/b/"}},
  };
  for (const XdgCase& c : cases) {
    setenv("HOME", "/h", 1);
    for (auto [name, value] :
         {std::pair{"XDG_CONFIG_HOME", c.configHome}, std::pair{"XDG_CONFIG_DIRS", c.configDirs}}) {
      if (value)
        setenv(name, value, 1);
      else
        unsetenv(name);
    }
    EXPECT_EQ(ConfigDirectories(), c.want) << (c.configHome ? c.configHome : "unset") << " "
                                           << (c.configDirs ? c.configDirs : "unset");
  }
  for (size_t i = 0; i < saved.size(); ++i) {
    if (saved[i])
      setenv(names[i], saved[i]->c_str(), 1);
    else
      unsetenv(names[i]);
  }
}

TEST(RuleFile, BuiltInRulesFillTheFirstFourSlotsAndLeaveTheRest) {
  RuleTable table;
  for (auto& slot : table.rules) StoreSlot(slot, "OLD ");
  table.count = kMaxRules;
  InstallBuiltInRules(table);
  EXPECT_EQ(Stored(table.rules, table.count), kBuiltInRules);
  EXPECT_EQ(SlotView(table.rules[4]), "OLD ");
}

TEST(RuleFile, SlotsCutTextsToTheirCapacity) {
  SlotText<12> slot;
  StoreSlot(slot, "ABCDEFGHIJKLMN");
  EXPECT_EQ(SlotView(slot), "ABCDEFGHIJKL");
  StoreSlot(slot, "");
  EXPECT_EQ(SlotView(slot), "");
}

// A companion file's bytes and the masks and rule lines read from it.
struct LineCase {
  std::string bytes;
  Texts masks, rules;
};

// Both loaders split a file into lines the same way; only what they keep of
// a line differs. The cases hold for both builds, except that an LF alone
// ends a line only in the POSIX style (the table after this one).
TEST(RuleFile, LineEndsAndCtrlZSplitBothCompanionFilesAlike) {
  const std::vector<LineCase> cases = {
      {"*.BAK\r\n*.OBJ", {"*.BAK", "*.OBJ"}, {"*.BAK ", "*.OBJ "}},
      {"A\rB\rC", {"A", "B", "C"}, {"A ", "B ", "C "}},
      {"A\r\n", {"A"}, {"A "}},
      // A blank line before the end is still a line.
      {"A\r\n\r\n", {"A", ""}, {"A ", " "}},
      {"A\r\n\r\nB\r\n", {"A", "", "B"}, {"A ", " ", "B "}},
      {"A\r\r\nB", {"A", "", "B"}, {"A ", " ", "B "}},
      // Only the one LF right after a CR belongs to the line end.
      {"A\r\n\nB", {"A", "\nB"}, {"A ", "\nB "}},
      {"A\n\rB", {"A\n", "B"}, {"A\n ", "B "}},
      {"*.BAK\n*.OBJ\n*.TMP\n*.LOG\n", {"*.BAK\n*.OBJ\n"}, {"*.BAK\n*.OBJ\n*.TMP\n*.LOG\n "}},
      // Ctrl-Z ends the data wherever it stands.
      {"A\r\nB\x1A"
       "C\r\nD",
       {"A", "B"},
       {"A ", "B "}},
      {"A\r\n\x1A"
       "B\r\n",
       {"A"},
       {"A "}},
      {"A\r\n\r\n\x1A", {"A", ""}, {"A ", " "}},
      {"A\r\x1A\nB", {"A"}, {"A "}},
      {"ABCDEFGHIJKLMN\x1A\r\nX", {"ABCDEFGHIJKL"}, {"ABCDEFGHIJKLMN "}},
      {"A\0B\r\n\0"s, {"A\0B"s, "\0"s}, {"A\0B "s, "\0 "s}},
      {"\x80\xFF\r\n\xE4", {"\x80\xFF", "\xE4"}, {"\x80\xFF ", "\xE4 "}},
  };
  for (const LineCase& c : cases) {
    for (PathStyle style : {PathStyle::Windows, PathStyle::Posix}) {
      if (style == PathStyle::Posix && c.bytes.find('\n') != std::string::npos) continue;
      for (const std::string& form : SavedForms(c.bytes)) {
        EXPECT_EQ(Masks(form, style), c.masks) << Shown(form);
        EXPECT_EQ(Rules(form, style), c.rules) << Shown(form);
      }
    }
  }
}

TEST(RuleFile, AnLFAloneEndsACompanionLineOnlyInThePosixStyle) {
  const std::vector<LineCase> cases = {
      {"*.BAK\n*.OBJ\n", {"*.BAK", "*.OBJ"}, {"*.BAK ", "*.OBJ "}},
      {"A\r\n\nB", {"A", "", "B"}, {"A ", " ", "B "}},
      {"A\n\rB", {"A", "", "B"}, {"A ", " ", "B "}},
      {"A\nB\rC\r\nD", {"A", "B", "C", "D"}, {"A ", "B ", "C ", "D "}},
      {"ABCDEFGHIJKLMN\nX\n\x1A"
       "Y",
       {"ABCDEFGHIJKL", "X"},
       {"ABCDEFGHIJKLMN ", "X "}},
  };
  for (const LineCase& c : cases) {
    for (const std::string& form : SavedForms(c.bytes)) {
      EXPECT_EQ(Masks(form, PathStyle::Posix), c.masks) << Shown(form);
      EXPECT_EQ(Rules(form, PathStyle::Posix), c.rules) << Shown(form);
    }
  }
}

TEST(RuleFile, RuleLinesLoseTabsAndLeadingBlanksAndFoldSpaceRuns) {
  ExpectRules({
      {".C .OBJ\t.EXE", {".C .OBJ.EXE "}},
      // A kept leading space would make an empty source word, which takes
      // every file for a source and deletes the sources themselves.
      {"  .PAS   .EXE", {".PAS .EXE "}},
      {" .PAS", {".PAS "}},
      {"\t .\tPAS \t .EXE\t", {".PAS .EXE "}},
      {" \t \t.PAS .EXE\r\n", {".PAS .EXE "}},
      {".PAS .EXE   ", {".PAS .EXE "}},
      {".PAS .EXE ", {".PAS .EXE "}},
      {".pas .Exe", {".pas .Exe "}},
      {"   \r\n\t\t\r\n \t ", {" ", " ", " "}},
  });
}

TEST(RuleFile, BlankRuleLinesAreRulesOfOneSpaceNotTheBuiltIns) {
  EXPECT_EQ(Rules("\r\n"), Texts{" "});
  EXPECT_EQ(Rules("\r\n\r\n\r\n"), Texts(3, " "));
}

TEST(RuleFile, RuleLinesAreCutToEightyCharactersAfterFolding) {
  const std::string lfLines = Repeat(".EXE\n", 30);
  ExpectRules({
      {std::string(79, 'A'), {std::string(79, 'A') + " "}},
      // The appended closing space is the one the cut takes away.
      {std::string(80, 'A'), {std::string(80, 'A')}},
      {std::string(81, 'A') + "\r\nB", {std::string(80, 'A'), "B "}},
      {std::string(78, 'A') + " ", {std::string(78, 'A') + " "}},
      {std::string("A") + std::string(200, ' ') + "B", {"A B "}},
      {std::string(200, '\t') + ".PAS", {".PAS "}},
      {Repeat("X   ", 40), {Repeat("X ", 40)}},
      {Repeat("X  ", 50), {Repeat("X ", 40)}},
      {Repeat("ж", 41), {Repeat("ж", 40)}},
  });
  EXPECT_EQ(Rules(lfLines, PathStyle::Windows), Texts{lfLines.substr(0, 80)});
}

TEST(RuleFile, MasksAreKeptExactlyAndCutToTwelveCharacters) {
  ExpectMasks({
      {"*.BAK\r\n", {"*.BAK"}},
      {" *.bak \t\r\n", {" *.bak \t"}},
      {"ABCDEFGHIJKLMN\r\n*.OBJ", {"ABCDEFGHIJKL", "*.OBJ"}},
      {"ABCDEFGHIJKLM\r\n*.OBJ", {"ABCDEFGHIJKL", "*.OBJ"}},
      {"ABCDEFGHIJKL\r\n*.OBJ", {"ABCDEFGHIJKL", "*.OBJ"}},
      {"ABCDEFGHIJKL\r", {"ABCDEFGHIJKL"}},
      {"ABCDEFGHIJKL", {"ABCDEFGHIJKL"}},
      {"ABCDEFGHIJK\r\n", {"ABCDEFGHIJK"}},
      // Twelve bytes of the names' code page, not twelve UTF-16 characters.
      {"файлы.pas\r\n*.OBJ", {"файлы.p", "*.OBJ"}},
      // In UTF-16 the 😀 straddles the end of the first 4096 bytes read.
      {std::string(2044, 'A') + "\r\n😀x", {std::string(12, 'A'), "😀x"}},
      // Here the first read ends right after the 😀, its low half the last.
      {std::string(2043, 'A') + "\r\n😀x", {std::string(12, 'A'), "😀x"}},
  });
}

TEST(RuleFile, LoneSurrogatesInUtf16AreReadAsReplacementCharacters) {
  // Utf16WithMark turns the UTF-8 form of a surrogate into that code unit:
  // a high one alone, a low one alone, the two halves the wrong way round
  // (the high one last in the file).
  const std::string text = "\xED\xA0\x80x\r\n\xED\xB0\x80\r\n\xED\xB0\x80\xED\xA0\x80";
  const std::string replacement = "\xEF\xBF\xBD";
  for (bool bigEndian : {false, true})
    EXPECT_EQ(Masks(*Utf16WithMark(text, bigEndian)),
              (Texts{replacement + "x", replacement, replacement + replacement}))
        << (bigEndian ? "big-endian" : "little-endian");
}

TEST(RuleFile, OnlyTheFirstThirtyLinesAreRead) {
  std::string bytes;
  Texts masks, rules;
  for (int i = 1; i <= 31; ++i) {
    std::string line = std::string("L") + std::to_string(i);
    bytes += line + "\r\n";
    if (i > 30) continue;
    masks.push_back(line);
    rules.push_back(line + " ");
  }
  EXPECT_EQ(Masks(bytes), masks);
  EXPECT_EQ(Rules(bytes), rules);
}

TEST(RuleFile, RuleFileThatGivesNoLineBringsTheBuiltInRules) {
  ExpectRules({{"", kBuiltInRules}, {"\x1A", kBuiltInRules}, {"\x1A.PAS .EXE\r\n", kBuiltInRules}});
  ScratchDir dir;
  EXPECT_EQ(RulesFrom(dir.PathOf("absent.EXT")), kBuiltInRules);
  EXPECT_EQ(RulesFrom(dir.MakeDir("kelvo.EXT")), kBuiltInRules);
}

// Gives a file's bytes up to `failAt`, then fails every read.
size_t readSoFar = 0;
size_t failAt = 0;
bool ReadFailingAtAByte(ReadFileState* file, char* buffer, size_t capacity, size_t& got) {
  if (readSoFar >= failAt) return false;
  if (!ReadBytes(file, buffer, std::min(capacity, failAt - readSoFar), got)) return false;
  readSoFar += got;
  return true;
}

TEST(RuleFile, ReadErrorInsideARuleLineBringsTheBuiltInRulesInsteadOfTheLinesBefore) {
  ScratchDir dir;
  const std::string path = dir.Put("kelvo.EXT", ".C .OBJ\r\n.F .O\r\n");
  const struct {
    size_t failAt;
    Texts want;
  } cases[] = {
      {12, kBuiltInRules},
      // Between the CR and the LF: the line end is part of the line.
      {15, kBuiltInRules},
      // Where the next line would start, a failed read is taken for the end.
      {9, {".C .OBJ "}},
  };
  for (const auto& c : cases) {
    readSoFar = 0;
    failAt = c.failAt;
    RuleTable table;
    LoadRuleFileFrom(path, table, kNativeStyle, ReadFailingAtAByte);
    EXPECT_EQ(Stored(table.rules, table.count), c.want) << "failing at byte " << c.failAt;
  }
}

TEST(RuleFile, MaskFileThatCannotBeReadLeavesTheListEmpty) {
  ExpectMasks({{"", {}}, {"\x1A*.BAK\r\n", {}}});
  ScratchDir dir;
  for (const std::string& path : {dir.PathOf("absent.TAB"), dir.MakeDir("kelvo.TAB")}) {
    MaskList list;
    StoreSlot(list.masks[0], "*.OLD");
    list.count = 1;
    LoadMaskFileFrom(path, list);
    EXPECT_EQ(list.count, 0) << path;
  }
}

TEST(RuleFile, AFifoInPlaceOfACompanionFileCountsAsMissingWithoutWaiting) {
  ScratchDir dir;
  std::string fifo = dir.PathOf("kelvo.TAB");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto loaded =
      std::async(std::launch::async, [&] { return std::pair(MasksFrom(fifo), RulesFrom(fifo)); });
  if (loaded.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Release the loaders stuck on the pipe, so the failure gets reported.
    do {
      int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) close(writer);
    } while (loaded.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready);
    FAIL() << "a loader waits on a FIFO";
  }
  auto [masks, rules] = loaded.get();
  EXPECT_EQ(masks, Texts{});
  EXPECT_EQ(rules, kBuiltInRules);
}

TEST(RuleFile, AHugeLineWithoutLineEndsIsReadInBoundedMemory) {
  ScratchDir dir;
  constexpr size_t kSize = 20u << 20;
  std::string path = PutLongLine(dir, "kelvo.EXT", kSize);
  long before = PeakKilobytes();
  EXPECT_EQ(RulesFrom(path), Texts{std::string(80, 'X')});
  EXPECT_EQ(MasksFrom(path), Texts{std::string(12, 'X')});
  // The peak only grows if a loader holds a large part of the file at once.
  EXPECT_LT(PeakKilobytes() - before, long(kSize / 1024 / 2));
}

TEST(RuleFile, CompanionFilesAreFoundWithoutRegardToLetterCase) {
  ScratchDir dir;
  dir.Put("KELVO.tab", "*.BAK\r\n");
  dir.Put("Kelvo.Ext", ".C .O\r\n");
  EXPECT_EQ(MasksFrom(dir.PathOf("kelvo.TAB")), Texts{"*.BAK"});
  EXPECT_EQ(RulesFrom(dir.PathOf("kelvo.EXT")), Texts{".C .O "});
}
