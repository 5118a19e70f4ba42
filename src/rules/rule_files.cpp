#include "rules/rule_files.h"

#include <algorithm>
#include <cstring>

#include "common/names.h"
#include "platform/platform.h"

namespace {

constexpr int kEnd = -1;    // Ctrl-Z or the physical end of the data
constexpr int kError = -2;  // the read failed
constexpr char kCtrlZ = 0x1A;
constexpr char kCR = 0x0D;
constexpr char kLF = 0x0A;

// How a companion file's text is stored, told by its first bytes: a UTF-8
// byte-order mark is dropped, a UTF-16 one makes the rest be converted to
// the names' code page before lines are split; a file with no mark is read
// byte for byte.
enum class TextForm { Unknown, Bytes, Utf16Le, Utf16Be };

// A companion file read through a small buffer, so a file of any size is
// read in bounded memory.
struct ByteReader {
  ReadFileState* file = nullptr;
  ByteSource read = ReadBytes;
  char buffer[6144];  // the text: 4096 bytes of UTF-16 take at most 6144 converted
  size_t pos = 0;
  size_t length = 0;
  bool failed = false;
  bool ended = false;
  bool lfEndsLine = false;  // Linux editors end lines in LF alone
  TextForm form = TextForm::Unknown;
  char raw[4096];  // bytes read and not yet in `buffer`
  size_t rawLength = 0;
  bool rawEnded = false;
  bool rawFailed = false;
};

// Reads more bytes after those `raw` holds; false once a read has failed.
bool ReadRaw(ByteReader& r) {
  size_t got = 0;
  if (r.rawFailed || !r.read(r.file, r.raw + r.rawLength, sizeof r.raw - r.rawLength, got)) {
    r.rawFailed = true;
    return false;
  }
  r.rawLength += got;
  r.rawEnded = got == 0;
  return true;
}

char16_t Unit(const ByteReader& r, size_t i) {
  auto byte = [&](size_t at) { return static_cast<unsigned char>(r.raw[at]); };
  return r.form == TextForm::Utf16Le ? char16_t(byte(2 * i) | byte(2 * i + 1) << 8)
                                     : char16_t(byte(2 * i) << 8 | byte(2 * i + 1));
}

// Converts the UTF-16 text read so far, holding back a surrogate whose other
// half is still unread; an odd last byte of the file is no character.
bool NextUtf16(ByteReader& r, size_t& got) {
  got = 0;
  while (got == 0) {
    size_t units = r.rawLength / 2;
    if (!r.rawEnded && units > 0 && Unit(r, units - 1) >= 0xD800 && Unit(r, units - 1) <= 0xDBFF)
      --units;
    if (units == 0) {
      if (r.rawEnded) return true;
      if (!ReadRaw(r)) return false;
      continue;
    }
    std::u16string text(units, u'\0');
    for (size_t i = 0; i < units; ++i) text[i] = Unit(r, i);
    std::string converted = Utf16AsNames(text);
    r.rawLength -= 2 * units;
    memmove(r.raw, r.raw + 2 * units, r.rawLength);
    got = std::min(converted.size(), sizeof r.buffer);
    memcpy(r.buffer, converted.data(), got);
  }
  return true;
}

// Fills `buffer` with the next piece of the text; `got` is 0 at its end.
bool NextBytes(ByteReader& r, size_t& got) {
  if (r.form == TextForm::Unknown) {
    while (r.rawLength < 3 && !r.rawEnded && ReadRaw(r)) {
    }
    const unsigned char* b = reinterpret_cast<const unsigned char*>(r.raw);
    size_t mark = 0;
    r.form = TextForm::Bytes;
    if (r.rawLength >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      mark = 3;
    } else if (r.rawLength >= 2 &&
               ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
      mark = 2;
      r.form = b[0] == 0xFF ? TextForm::Utf16Le : TextForm::Utf16Be;
    }
    r.rawLength -= mark;
    memmove(r.raw, r.raw + mark, r.rawLength);
  }
  if (r.form != TextForm::Bytes) return NextUtf16(r, got);
  if (r.rawLength > 0) {
    got = r.rawLength;
    memcpy(r.buffer, r.raw, got);
    r.rawLength = 0;
    return true;
  }
  got = 0;
  if (r.rawEnded) return true;
  return !r.rawFailed && r.read(r.file, r.buffer, sizeof r.buffer, got);
}

int Peek(ByteReader& r) {
  if (r.pos == r.length && !r.failed && !r.ended) {
    size_t got = 0;
    if (!NextBytes(r, got)) {
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
