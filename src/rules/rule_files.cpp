#include "rules/rule_files.h"

#include "common/names.h"
#include "platform/platform.h"

namespace {

constexpr int kEnd = -1;    // Ctrl-Z or the physical end of the data
constexpr int kError = -2;  // the read failed
constexpr char kCtrlZ = 0x1A;
constexpr char kCR = 0x0D;
constexpr char kLF = 0x0A;

// A companion file read through a small buffer, so a file of any size is
// read in bounded memory.
struct ByteReader {
  ReadFileState* file = nullptr;
  ByteSource read = ReadBytes;
  char buffer[4096];
  size_t pos = 0;
  size_t length = 0;
  bool failed = false;
  bool ended = false;
  bool lfEndsLine = false;  // Linux editors end lines in LF alone
};

int Peek(ByteReader& r) {
  if (r.pos == r.length && !r.failed && !r.ended) {
    size_t got = 0;
    if (!r.read(r.file, r.buffer, sizeof r.buffer, got)) {
      r.failed = true;
    } else {
      r.pos = 0;
      r.length = got;
      r.ended = got == 0;
    }
  }
  if (r.failed) return kError;
  if (r.pos == r.length || r.buffer[r.pos] == kCtrlZ) return kEnd;
  return static_cast<unsigned char>(r.buffer[r.pos]);
}

bool IsLineEnd(const ByteReader& r, int c) { return c == kCR || (c == kLF && r.lfEndsLine); }

// A failed read while testing for the end counts as the end.
bool AtEnd(ByteReader& r) { return Peek(r) < 0; }

// Steps over the rest of the current line and its line end; false on a read
// error.
bool SkipLineEnd(ByteReader& r) {
  while (true) {
    int c = Peek(r);
    if (c == kError) return false;
    if (c == kEnd) return true;
    ++r.pos;
    if (c == kCR) {
      int next = Peek(r);
      if (next == kError) return false;
      if (next == kLF) ++r.pos;
      return true;
    }
    if (IsLineEnd(r, c)) return true;
  }
}

// Folds one rule line as it streams by, keeping only what the slot can hold.
struct FoldedLine {
  char kept[kRuleLength];
  size_t keptLength = 0;
  size_t length = 0;
  char last = 0;
};

void Keep(FoldedLine& line, char c) {
  if (line.keptLength < kRuleLength) line.kept[line.keptLength++] = c;
  ++line.length;
  line.last = c;
}

void AddToLine(FoldedLine& line, char c) {
  if (c == '\t') return;
  // Leading blanks are dropped: an empty first word would make the rule take
  // every file for a source and delete the sources themselves.
  if (c == ' ' && (line.length == 0 || line.last == ' ')) return;
  Keep(line, c);
}

void CloseLine(FoldedLine& line) {
  if (line.length == 0 || line.last != ' ') Keep(line, ' ');
}

// The first of `paths` that opens, or nullptr.
ReadFileState* OpenFirst(const std::vector<std::string>& paths) {
  for (const std::string& path : paths)
    if (ReadFileState* file = OpenReadOnly(path)) return file;
  return nullptr;
}

void ReadMasks(ReadFileState* file, PathStyle style, MaskList& list) {
  list.count = 0;
  if (file == nullptr) return;
  ByteReader reader;
  reader.file = file;
  reader.lfEndsLine = style == PathStyle::Posix;
  while (!AtEnd(reader) && list.count < kMaxMasks) {
    char mask[kMaskLength];
    size_t length = 0;
    bool failed = false;
    while (length < kMaskLength) {
      int c = Peek(reader);
      if (c == kError) failed = true;
      if (c < 0 || IsLineEnd(reader, c)) break;
      mask[length++] = static_cast<char>(c);
      ++reader.pos;
    }
    int next = Peek(reader);
    bool cut = next >= 0 && !IsLineEnd(reader, next);
    if (failed || !SkipLineEnd(reader)) {
      list.count = 0;
      break;
    }
    StoreSlot(list.masks[list.count++], CompanionTextAsNames(std::string_view(mask, length), cut));
  }
  CloseReadOnly(file);
}

void ReadRules(ReadFileState* file, PathStyle style, RuleTable& table, ByteSource read) {
  table.count = 0;
  if (file != nullptr) {
    ByteReader reader;
    reader.file = file;
    reader.read = read;
    reader.lfEndsLine = style == PathStyle::Posix;
    while (!AtEnd(reader) && table.count < kMaxRules) {
      FoldedLine line;
      int c;
      while ((c = Peek(reader)) >= 0 && !IsLineEnd(reader, c)) {
        AddToLine(line, static_cast<char>(c));
        ++reader.pos;
      }
      if (c == kError || !SkipLineEnd(reader)) {
        table.count = 0;
        break;
      }
      CloseLine(line);
      StoreSlot(table.rules[table.count++],
                CompanionTextAsNames(std::string_view(line.kept, line.keptLength),
                                     line.length > kRuleLength));
    }
    CloseReadOnly(file);
  }
  if (table.count == 0) InstallBuiltInRules(table);
}

std::vector<std::string> CompanionPathsFor(std::string_view extension) {
  return CompanionPaths(ProgramPath(), extension, ConfigDirectories());
}

}  // namespace

std::string CompanionPath(std::string_view programPath, std::string_view extension) {
  std::string path(PathPart(programPath));
  path += BaseName(programPath);
  path += extension;
  return path;
}

std::vector<std::string> CompanionPaths(std::string_view programPath, std::string_view extension,
                                        const std::vector<std::string>& configDirs) {
  std::vector<std::string> paths{CompanionPath(programPath, extension)};
  std::string name = std::string(BaseName(programPath)) + std::string(extension);
  for (const std::string& dir : configDirs) paths.push_back(dir + "kelvo" + JoinSeparator() + name);
  return paths;
}

void LoadMaskFileFrom(std::string_view path, MaskList& list, PathStyle style) {
  ReadMasks(OpenReadOnly(path), style, list);
}

void LoadRuleFileFrom(std::string_view path, RuleTable& table, PathStyle style, ByteSource read) {
  ReadRules(OpenReadOnly(path), style, table, read);
}

void LoadMaskFile(MaskList& list) {
  ReadMasks(OpenFirst(CompanionPathsFor(".TAB")), kNativeStyle, list);
}

void LoadRuleFile(RuleTable& table) {
  ReadRules(OpenFirst(CompanionPathsFor(".EXT")), kNativeStyle, table, ReadBytes);
}
