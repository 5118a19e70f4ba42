#include "engine/sweep.h"

#include "common/names.h"
#include "platform/platform.h"
#include "rules/tables.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"

void SplitFirstWord(std::string& line, std::string& word) {
  size_t space = line.find(' ');
  if (space == std::string::npos) {
    word.clear();
    line.clear();
    return;
  }
  word.assign(line, 0, space);
  line.erase(0, space + 1);
}

static void WriteFileLine(std::string_view message, std::string_view name) {
  Write(message);
  WriteName(JoinPath(run.currentDirText, name));
  WriteLine();
}

void RemoveOne(std::string_view name, int64_t size) {
  WriteFileLine(text::kRemoving, name);
  if (run.askEachFile) {
    Write(text::kConfirm);
    Flush();
    if (ReadAnswer() == 'N') return;
  }
  bool removed;
  {
    StopGate gate;
    removed = RemoveFile(name);
  }
  if (removed) {
    run.removedBytes += size;
    return;
  }
  WriteFileLine(text::kCannotRemove, name);
  run.fellShort = true;
}

static void MaskPass() {
  for (int i = 0; i < maskList.count; ++i) {
    std::string_view mask = SlotView(maskList.masks[i]);
    // The file deleted must be the file found: a mask with a directory part
    // finds entries there, so their names keep that part.
    std::string_view dir = PathPart(mask);
    TSearchRec rec;
    bool found = SearchFirst(mask, kFilesOnly, rec);
    while (found) {
      RemoveOne(std::string(dir) + rec.name, rec.size);
      found = SearchNext(rec);
    }
    SearchClose(rec);
  }
}

// The derived words of a rule, split once per rule instead of once per
// source file; empty words (the cut tail of a long rule line) are left out,
// as they would name the bare base name, a file no rule asked for.
struct DerivedWords {
  std::string words[kRuleBytes / 2];
  int count = 0;
};

static void SplitDerivedWords(std::string rest, DerivedWords& derived) {
  std::string word;
  while (!rest.empty()) {
    SplitFirstWord(rest, word);
    if (!word.empty()) derived.words[derived.count++] = word;
  }
}

static void RemoveDerived(std::string_view base, const DerivedWords& derived) {
  std::string candidate;
  for (int i = 0; i < derived.count; ++i) {
    candidate.assign(base).append(derived.words[i]);
    TSearchRec rec;
    if (SearchFirst(candidate, kFilesOnly, rec)) {
      int64_t size = rec.size;
      SearchClose(rec);
      RemoveOne(candidate, size);
    } else {
      SearchClose(rec);
    }
  }
}

static void RulePass() {
  for (int i = 0; i < ruleTable.count; ++i) {
    std::string rest(SlotView(ruleTable.rules[i]));
    std::string source;
    SplitFirstWord(rest, source);
    DerivedWords derived;
    SplitDerivedWords(rest, derived);
    TSearchRec rec;
    bool found = SearchFirst("*" + source, kFilesOnly | kNamesOnly, rec);
    while (found) {
      RemoveDerived(BaseName(rec.name), derived);
      found = SearchNext(rec);
    }
    SearchClose(rec);
  }
}

void SweepDirectory() {
  if (run.useMasks) MaskPass();
  RulePass();
}
