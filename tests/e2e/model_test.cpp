// Seeded random trees swept with /S /N /Y and two masks, against a model of
// the rules written here on its own: hand-written trees test each rule, these
// find what the rules do to each other. Files left and bytes counted agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <random>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

enum class Kind { kFile, kFileLink, kDirLink, kFifo, kDir };
struct Node {
  Kind kind;
  bool readOnly;
  int64_t size;
  std::string target;  // of a link
};
using Dir = std::map<std::string, Node>;   // name -> entry
using Model = std::map<std::string, Dir>;  // "" or "a/b" -> its entries

const std::vector<std::string> kMasks = {"*.BAK", "*.~*"};
const std::vector<std::vector<std::string>> kRules = {{".PAS", ".EXE", ".TPU", ".TPP", ".TPW"},
                                                      {".FTN", ".FOR", ".EXE", ".OBJ"},
                                                      {".FOR", ".EXE", ".OBJ"},
                                                      {".BAK", ".BAK"}};

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Both sides folded already.
bool Match(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern[0] == '*')
    return Match(pattern.substr(1), name) || (!name.empty() && Match(pattern, name.substr(1)));
  return !name.empty() && (pattern[0] == '?' || pattern[0] == name[0]) &&
         Match(pattern.substr(1), name.substr(1));
}

bool MaskMatches(const std::string& mask, const std::string& name) {
  std::string m = Fold(mask), n = Fold(name);
  bool bare = n.find('.') == std::string::npos && m.ends_with(".*");
  return Match(m, n) || (bare && Match(std::string_view(m).substr(0, m.size() - 2), n));
}

bool Offered(const std::string& name, const Node& node) {
  return name[0] != '.' && (node.kind == Kind::kFile || node.kind == Kind::kFileLink);
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + "/" + name;
}

void Sweep(Model& model, const std::string& path, int64_t& removed) {
  Dir& dir = model[path];
  auto erase = [&](Dir::iterator it) {  // read-only files are offered, and stay
    if (it == dir.end() || !Offered(it->first, it->second) || it->second.readOnly) return;
    removed += it->second.size;
    dir.erase(it);
  };
  auto names = [&] {
    std::vector<std::string> out;
    for (const auto& entry : dir) out.push_back(entry.first);
    return out;
  };
  for (const std::string& mask : kMasks)
    for (const std::string& name : names())
      if (MaskMatches(mask, name)) erase(dir.find(name));
  for (const auto& rule : kRules)
    for (const std::string& name : names()) {
      auto source = dir.find(name);
      size_t cut = name.size() - std::min(name.size(), rule[0].size());
      if (source == dir.end() || !Offered(name, source->second) ||
          Fold(name.substr(cut)) != Fold(rule[0]))
        continue;
      for (size_t d = 1; d < rule.size(); ++d) {
        std::string derived = Fold(name.substr(0, cut) + rule[d]);
        erase(std::find_if(dir.begin(), dir.end(),
                           [&](const auto& e) { return Fold(e.first) == derived; }));
      }
    }
  for (const auto& [name, node] : dir)
    if (node.kind == Kind::kDir && name[0] != '.' && !node.readOnly)
      Sweep(model, Join(path, name), removed);
}

// ~40 directories up to 4 deep, ~30 entries each; no two names in one
// directory differ in letter case only, which only Linux could hold.
Model Generate(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](const auto& pool) { return pool[rng() % pool.size()]; };
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  const std::vector<std::string> bases = {"Prog", "prog2", "A",   "b",
                                          "Main", "UNIT1", "a.b", "Lib.v2"};
  std::vector<std::string> exts = {".PAS",     ".pas", ".FTN",    ".FOR", ".for",    ".C",
                                   ".EXE",     ".exe", ".TPU",    ".TPP", ".tpw",    ".OBJ",
                                   ".BAK",     ".bak", ".~pa",    ".~",   ".pascal", ".bakup",
                                   ".bak.txt", "",     ".Tpu.old"};
  if (!UnderWine()) exts.push_back(".~*");  // "*" cannot stand in a Windows name
  auto fileName = [&] {
    std::string name = pick(bases) + pick(exts);
    if (chance(20)) return Fold(name);
    if (chance(10)) std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    return name;
  };
  Model model{{"", {}}};
  auto add = [&](const std::string& dir, const std::string& name, Node node) {
    for (const auto& entry : model[dir])
      if (Fold(entry.first) == Fold(name)) return false;
    model[dir][name] = node;
    if (node.kind == Kind::kDir) model[Join(dir, name)];
    return true;
  };
  std::vector<std::string> dirs = {""};
  for (int i = 0; i < 40; ++i) {
    std::string parent = pick(dirs);
    if (std::count(parent.begin(), parent.end(), '/') >= 3) parent = "";
    std::string name = i % 10 == 0   ? "." + pick(bases)
                       : i % 10 <= 2 ? fileName()
                                     : "sub" + std::to_string(i);
    if (add(parent, name, {Kind::kDir, i % 10 == 1, 0, ""}) && name[0] != '.')
      dirs.push_back(Join(parent, name));
  }
  int64_t size = 0;
  for (auto& [path, entries] : model)
    for (int i = 0; i < 30; ++i) {
      std::string name = fileName();
      if (chance(5)) name.insert(name.begin(), '.');
      Node node{Kind::kFile, chance(10), ++size, ""};
      std::vector<std::string> targets;  // writable: a link's own bits would be moot
      for (const auto& [n, e] : entries)
        if (e.kind == Kind::kFile && !e.readOnly) targets.push_back(n);
      if (!UnderWine() && chance(6) && !targets.empty())
        node = {Kind::kFileLink, false, 0, pick(targets)};
      else if (!UnderWine() && chance(3))
        node = {Kind::kDirLink, false, 0, ".."};
      else if (!UnderWine() && chance(3))
        node = {Kind::kFifo, false, 0, ""};
      if (!add(path, name, node)) --size;
    }
  return model;
}

// The model's entries in ScopedTree notation: to make (with contents and
// "ro:", protected directories last so they can be filled first), or as
// Left() shows them.
Names Describe(const Model& model, bool make) {
  Names out, protectedDirs;
  for (const auto& [dir, entries] : model)
    for (const auto& [name, node] : entries) {
      std::string path = Join(dir, name);
      std::string ro = make && node.readOnly ? "ro:" : "";
      if (node.kind == Kind::kDir)
        (node.readOnly && make ? protectedDirs : out).push_back(ro + path + "/");
      else if (node.kind == Kind::kFifo)
        out.push_back("fifo:" + path);
      else if (node.kind != Kind::kFile)
        out.push_back(path + "->" + node.target);
      else
        out.push_back(ro + path + (make ? "=" + std::string(node.size, 'x') : ""));
    }
  out.insert(out.end(), protectedDirs.begin(), protectedDirs.end());
  if (!make) std::sort(out.begin(), out.end());
  return out;
}

std::string Diff(const Names& expected, const Names& actual) {
  std::string out;
  for (const auto& name : expected)
    if (!std::binary_search(actual.begin(), actual.end(), name))
      out += "\n  deleted, should stay: " + name;
  for (const auto& name : actual)
    if (!std::binary_search(expected.begin(), expected.end(), name))
      out += "\n  left, should go:      " + name;
  return out;
}

int64_t RemovedTotal(const std::string& output) {
  std::string label = Cp866("Размер удаленных файлов : ");
  size_t at = output.rfind(label);
  return at == std::string::npos ? -1
                                 : std::strtoll(output.c_str() + at + label.size(), nullptr, 10);
}

TEST(Model, RandomTreesLoseExactlyWhatTheRulesDelete) {
  for (uint32_t seed : {20240601u, 7u, 1999u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Model model = Generate(seed);
    ScopedTree tree(Describe(model, true));
    int64_t removed = 0;
    Sweep(model, "", removed);
    RunResult run = RunKelvo(
        tree,
        RunOptions().WithArgs({"/S", "/N", "/Y"}).WithCompanions({"KELVO.TAB=*.BAK\r\n*.~*\r\n"}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    Names expected = Describe(model, false);
    Names left = tree.Left();
    EXPECT_TRUE(left == expected) << Diff(expected, left);
    EXPECT_EQ(RemovedTotal(run.out), removed);
  }
}

}  // namespace
}  // namespace e2e
