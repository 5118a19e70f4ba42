#include "random_case.h"

#include <algorithm>
#include <random>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

using model::Case;
using model::Kind;
using model::Node;

struct Dice {
  std::mt19937 rng;
  size_t Below(size_t n) { return rng() % n; }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& pool) {
    return pool[Below(pool.size())];
  }
};

// Name parts that meet the rules below: mixed case, several dots, no dot,
// spaces, letters beyond ASCII.
const std::vector<std::string>& Bases() {
  static const std::vector<std::string> pool = [] {
    std::vector<std::string> out = {"Prog", "prog2",  "A",   "b",    "Main", "UNIT1",
                                    "a.b",  "Lib.v2", "x y", "café", "Ü"};
    if (!UnderWine()) out.insert(out.end(), {"r\x81\xfe", " lead", "t\xe9"});
    return out;
  }();
  return pool;
}

const std::vector<std::string>& Extensions() {
  static const std::vector<std::string> pool = [] {
    std::vector<std::string> out = {
        ".PAS", ".pas",   ".FTN",   ".FOR",    ".for",   ".C",       ".c",       ".O",   ".OBJ",
        ".obj", ".EXE",   ".exe",   ".TPU",    ".tpw",   ".BAK",     ".bak",     ".~pa", ".~",
        "",     ".class", ".CLASS", ".pascal", ".bakup", ".bak.txt", ".Tpu.old", ".gz"};
    if (!UnderWine()) out.insert(out.end(), {".", ".~*", ".bak "});
    return out;
  }();
  return pool;
}

const std::vector<std::string> kMasks = {"*.BAK",
                                         "*.bak",
                                         "*.~*",
                                         "*.O",
                                         "*.?",
                                         "*.",
                                         "?.TMP",
                                         "A*",
                                         "*.OB?",
                                         "PROG.*",
                                         "*~",
                                         "*.tpu",
                                         "*.VERYLONGEXTENSION",
                                         "",
                                         "*.c*",
                                         "b.*",
                                         "*.EXE",
                                         "*.Class",
                                         "*.gz"};
const std::vector<std::string> kSources = {".PAS", ".pas", ".C",     ".c",  ".FOR", ".FTN",
                                           ".BAK", ".~pa", ".CLASS", "PAS", "?AS",  "."};
const std::vector<std::string> kDerived = {".EXE",     ".exe",   ".OBJ", ".O", ".TPU", ".tpw",
                                           ".BAK",     ".FOR",   ".PAS", ".*", ".?XE", ".bak.txt",
                                           ".Tpu.old", ".class", "X",    ".c", ".Gz"};

std::string RuleLine(Dice& dice) {
  std::string line = dice.Chance(10) ? "  " : "";
  line += dice.Pick(kSources);
  size_t words = dice.Chance(3) ? 30 : dice.Below(5);
  for (size_t i = 0; i < words; ++i) {
    line += dice.Chance(5) ? "\t" : dice.Chance(15) ? "  " : " ";
    line += dice.Pick(kDerived);
  }
  if (dice.Chance(10)) line += "   ";
  return line;
}

std::string FileName(Dice& dice) {
  std::string name = dice.Pick(Bases()) + dice.Pick(Extensions());
  if (dice.Chance(20)) return FoldCase(name);
  if (dice.Chance(10))
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

std::string Content(Dice& dice) {
  std::string out;
  for (size_t n = dice.Below(25); n > 0; --n) out += static_cast<char>('a' + dice.Below(26));
  return out;
}

// No two names in one directory differ in ASCII letter case only: only Linux
// could hold them.
bool Add(Case& c, const std::string& dir, const std::string& name, Node node) {
  for (const auto& entry : c.tree[dir])
    if (FoldCase(entry.first) == FoldCase(name)) return false;
  c.tree[dir][name] = node;
  if (node.kind == Kind::kDir) c.tree[model::Join(dir, name)];
  return true;
}

// More than a few entries of an extension the directory holds, as a
// directory of object files has: names of that extension are then looked up
// another way.
void AddManyOfOneExtension(Case& c, const std::string& dir, Dice& dice) {
  std::vector<std::string> extensions;
  for (const auto& [name, entry] : c.tree[dir])
    if (size_t dot = name.rfind('.'); dot != std::string::npos && entry.kind == Kind::kFile)
      extensions.push_back(name.substr(dot));
  if (extensions.empty()) return;
  std::string extension = dice.Pick(extensions);
  for (int i = 1; i <= 17; ++i)
    Add(c, dir, "lib" + std::to_string(100 + i) + extension,
        {Kind::kFile, false, Content(dice), ""});
}

void AddFiles(Case& c, const std::string& dir, Dice& dice) {
  for (size_t n = 2 + dice.Below(12); n > 0; --n) {
    std::string name = FileName(dice);
    if (dice.Chance(6)) name.insert(name.begin(), '.');
    Node node{Kind::kFile, dice.Chance(8), Content(dice), ""};
    std::vector<std::string> targets;  // writable: a link's own bits would be moot
    for (const auto& [other, entry] : c.tree[dir])
      if (entry.kind == Kind::kFile && !entry.readOnly) targets.push_back(other);
    if (!UnderWine() && dice.Chance(5) && !targets.empty())
      node = {Kind::kFileLink, false, "", dice.Pick(targets)};
    else if (!UnderWine() && dice.Chance(2))
      node = {Kind::kDirLink, false, "", ".."};
    else if (!UnderWine() && dice.Chance(2))
      node = {Kind::kFifo, false, "", ""};
    Add(c, dir, name, node);
  }
}

}  // namespace

std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

Case RandomCase(uint32_t seed) {
  Dice dice{std::mt19937(seed)};
  Case c;
  if (dice.Chance(75)) {
    c.maskLines.emplace();
    for (size_t n = dice.Below(5); n > 0; --n) c.maskLines->push_back(dice.Pick(kMasks));
  }
  size_t rules = dice.Below(10);
  if (rules >= 2) c.ruleLines.emplace();  // 2: an empty rule file
  for (size_t n = rules >= 3 ? rules - 2 : 0; n > 0; --n) c.ruleLines->push_back(RuleLine(dice));
  c.useMasks = !dice.Chance(15);

  c.tree[""];
  std::vector<std::string> dirs = {""};
  for (size_t i = 0, n = dice.Below(6); i < n; ++i) {
    std::string parent = dice.Pick(dirs);
    if (std::count(parent.begin(), parent.end(), '/') >= 2) parent = "";
    std::string name = dice.Chance(15)   ? "." + dice.Pick(Bases())
                       : dice.Chance(25) ? FileName(dice)
                                         : "sub" + std::to_string(i);
    if (Add(c, parent, name, {Kind::kDir, dice.Chance(10), "", ""}) && name[0] != '.')
      dirs.push_back(model::Join(parent, name));
  }
  for (auto& [dir, entries] : c.tree) {
    AddFiles(c, dir, dice);
    if (dice.Chance(20)) AddManyOfOneExtension(c, dir, dice);
  }
  return c;
}

}  // namespace e2e
