#include "engine/sweep.h"

#include "common/match.h"
#include "common/names.h"
#include "platform/platform.h"
#include "rules/tables.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

void SplitFirstWord(std::string_view& line, std::string_view& word) {
  size_t space = line.find(' ');
  if (space == std::string_view::npos) {
    word = {};
    line = {};
    return;
  }
  word = line.substr(0, space);
  line.remove_prefix(space + 1);
}

void CannotChangeTo(std::string_view path) {
  Write(text::kCannotEnter);
  WriteName(path);
  WriteChar('.');
  WriteLine();
  run.fellShort = true;
}

// `path` as messages name it.
static void WriteFileLine(std::string_view message, std::string_view path) {
  Write(message);
  WriteName(path);
  WriteLine();
}

// Set while the passes only name what they would delete.
static std::vector<std::string>* named = nullptr;

// Set while the sweep's deletions may be in flight together: no question
// waits between them.
static bool overlapping = false;

static void CountRemoved(bool removed, int64_t size, std::string_view path) {
  if (removed) {
    run.removedBytes += size;
    return;
  }
  WriteFileLine(text::kCannotRemove, path);
  run.fellShort = true;
}

// Tells what the deletions in flight came to, as soon as each is known;
// with `all`, waits for every one.
static void TakeRemovalsDone(bool all) {
  RemovalDone done;
  while (NextRemovalDone(all, done)) CountRemoved(done.removed, done.size, done.name);
}

void FinishRemovals() { TakeRemovalsDone(true); }

void RemoveOne(std::string_view name) {
  if (named != nullptr) {
    named->emplace_back(name);
    return;
  }
  const std::string path = JoinPath(PlaceText(), name);
  // The file is issued as soon as it is announced, never left waiting.
  if (overlapping) AwaitRoomForRemoval();
  WriteFileLine(text::kRemoving, path);
  if (run.askEachFile) {
    Write(text::kConfirm);
    Flush();
    if (ReadAnswer() == 'N') return;
  }
  // Whatever was written must be out before the file goes: a run killed
  // meanwhile leaves no deletion that nothing named.
  Flush();
  int64_t size = 0;
  if (!overlapping) {
    bool removed = RemoveFile(name, size);
    CountRemoved(removed, size, path);
    return;
  }
  Removal removal = IssueRemoval(name, size);
  // A failure foreseen comes after those known of the deletions before it.
  TakeRemovalsDone(false);
  if (removal != Removal::Issued) CountRemoved(removal == Removal::Removed, size, path);
}

static void MaskPass() {
  std::vector<std::string_view> masks;
  for (int i = 0; i < maskList.count; ++i) masks.push_back(SlotView(maskList.masks[i]));
  SearchesAhead(masks, kFilesOnly);
  for (int i = 0; i < maskList.count; ++i) {
    std::string_view mask = SlotView(maskList.masks[i]);
    // The file deleted must be the file found: a mask with a directory part
    // finds entries there, so their names keep that part.
    std::string_view dir = PathPart(mask);
    TSearchRec rec;
    bool found = SearchFirst(mask, kFilesOnly, rec);
    while (found) {
      if (dir.empty())
        RemoveOne(rec.name);
      else
        RemoveOne(std::string(dir).append(rec.name));
      found = SearchNext(rec);
    }
    SearchClose(rec);
  }
}

// The derived words of a rule, split once per rule instead of once per
// source file, as views of the rule's own text; empty words (the cut tail of
// a long rule line) are left out, as they would name the bare base name, a
// file no rule asked for.
struct DerivedWords {
  DerivedWord words[kRuleBytes / 2];
  int count = 0;
};

static void SplitDerivedWords(std::string_view rest, DerivedWords& derived) {
  std::string_view word;
  while (!rest.empty()) {
    SplitFirstWord(rest, word);
    if (!word.empty()) derived.words[derived.count++].text = word;
  }
}

// A word with an extension of its own can only name a file of that
// extension: where the directory holds no entry of it, the word is left out
// for every source instead of being looked up for each.
static bool MayNameAnEntry(std::string_view word) {
  std::string_view extension = ExtensionPart(word);
  if (NamePart(word) != word || extension.size() < 2 || extension.back() == '.' ||
      !IsLiteralPattern(extension))
    return true;
  return AnyEntryOfExtension(extension);
}

static void KeepWordsThatMayNameAnEntry(DerivedWords& derived) {
  int kept = 0;
  for (int i = 0; i < derived.count; ++i) {
    if (!MayNameAnEntry(derived.words[i].text)) continue;
    derived.words[kept++] = PrepareDerivedWord(derived.words[i].text);
  }
  derived.count = kept;
}

// A source whose base name holds "*" or "?" (a legal POSIX name) makes a
// candidate that a search would take for a pattern: its derived file is the
// one of exactly that name, never every file the pattern matches.
static bool FindCandidate(const std::string& candidate, bool literal, TSearchRec& rec) {
  bool found = SearchFirst(candidate, kFilesOnly, rec);
  while (found && literal && !SameNameIgnoringCase(rec.name, NamePart(candidate)))
    found = SearchNext(rec);
  return found;
}

static void RemoveDerived(std::string_view base, const DerivedWords& derived) {
  std::string candidate;
  // Most words name no file: the entries that share the base name tell so.
  EntriesOfBase beside(base);
  bool literal = !beside.PlainBase() && !IsLiteralPattern(base);
  for (int i = 0; i < derived.count; ++i) {
    if (!beside.MayName(derived.words[i])) continue;
    candidate.assign(base).append(derived.words[i].text);
    TSearchRec rec;
    bool found = FindCandidate(candidate, literal, rec);
    SearchClose(rec);
    if (!found) continue;
    // A pattern stays as built: it is no name of a file and cannot be
    // deleted.
    if (kCaseTellsFilesApart && (literal || IsLiteralPattern(candidate)))
      candidate.assign(PathPart(candidate)).append(rec.name);
    RemoveOne(candidate);
  }
}

// The derived files of every source a rule's search found, the first one
// in `rec`.
static void RemoveDerivedOfSources(std::string_view rest, TSearchRec& rec) {
  DerivedWords derived;
  SplitDerivedWords(rest, derived);
  KeepWordsThatMayNameAnEntry(derived);
  do {
    RemoveDerived(BaseOfName(rec.name), derived);
  } while (SearchNext(rec));
}

static void RulePass() {
  for (int i = 0; i < ruleTable.count; ++i) {
    std::string_view rest = SlotView(ruleTable.rules[i]);
    std::string_view source;
    SplitFirstWord(rest, source);
    std::string pattern = "*";
    pattern += source;
    TSearchRec rec;
    if (SearchFirst(pattern, kFilesOnly | kNamesOnly, rec)) RemoveDerivedOfSources(rest, rec);
    SearchClose(rec);
  }
}

static void Passes() {
  if (run.useMasks) MaskPass();
  RulePass();
}

void SweepDirectory() {
  // What is missing from a listing cut short could change what the passes
  // find (a derived file equal but for case to one missing).
  if (!ListCurrentDirectory()) {
    CannotChangeTo(PlaceText());
    return;
  }
  // With no question to wait for, the files the passes will delete are
  // named first, so that on a share each status is read while the deletions
  // before it are made.
  if (!run.askEachFile && ReadsFilesAhead()) {
    std::vector<std::string> names;
    named = &names;
    Passes();
    named = nullptr;
    WillRemove(names);
  }
  overlapping = !run.askEachFile && OverlapsRemovals();
  Passes();
  // The deletions issued go on while the descent moves on.
  overlapping = false;
}
