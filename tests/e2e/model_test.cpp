// Seeded random trees swept with /S /N /Y, against a model of the rules
// written apart from the program (model.h): hand-written trees test each
// rule, these find what the rules do to each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "random_case.h"
#include "runner.h"

namespace e2e {
namespace {

using model::Kind;
using model::Node;

// ~40 directories up to 4 deep, ~30 entries each; no two names in one
// directory differ in letter case only, which only Linux could hold.
model::Tree Generate(uint32_t seed) {
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
    if (chance(20))
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    else if (chance(10))
      std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    return name;
  };
  model::Tree model{{"", {}}};
  auto add = [&](const std::string& dir, const std::string& name, Node node) {
    for (const auto& entry : model[dir])
      if (FoldCase(entry.first) == FoldCase(name)) return false;
    model[dir][name] = node;
    if (node.kind == Kind::kDir) model[model::Join(dir, name)];
    return true;
  };
  std::vector<std::string> dirs = {""};
  for (int i = 0; i < 40; ++i) {
    std::string parent = pick(dirs);
    if (std::count(parent.begin(), parent.end(), '/') >= 3) parent = "";
    std::string name = i % 10 == 0   ? "." + pick(bases)
                       : i % 10 <= 2 ? fileName()
                                     : "sub" + std::to_string(i);
    if (add(parent, name, {Kind::kDir, i % 10 == 1, "", ""}) && name[0] != '.')
      dirs.push_back(model::Join(parent, name));
  }
  int64_t size = 0;
  for (auto& [path, entries] : model)
    for (int i = 0; i < 30; ++i) {
      std::string name = fileName();
      if (chance(5)) name.insert(name.begin(), '.');
      Node node{Kind::kFile, chance(10), std::string(++size, 'x'), ""};
      std::vector<std::string> targets;  // writable: a link's own bits would be moot
      for (const auto& [n, e] : entries)
        if (e.kind == Kind::kFile && !e.readOnly) targets.push_back(n);
      if (!UnderWine() && chance(6) && !targets.empty())
        node = {Kind::kFileLink, false, "", pick(targets)};
      else if (!UnderWine() && chance(3))
        node = {Kind::kDirLink, false, "", ".."};
      else if (!UnderWine() && chance(3))
        node = {Kind::kFifo, false, "", ""};
      if (!add(path, name, node)) --size;
    }
  return model;
}

int FromEnvironment(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

// Big trees with links and fifos, the built-in rules and two masks.
TEST(Model, RandomTreesLoseExactlyWhatTheRulesDelete) {
  for (uint32_t seed : {20240601u, 7u, 1999u}) {
    model::Case c;
    c.tree = Generate(seed);
    c.maskLines = {{"*.BAK", "*.~*"}};
    EXPECT_EQ(CheckCase(c), "") << "seed " << seed;
  }
}

// Small trees with random mask and rule files: KELVO_MODEL_CASES cases from
// seed KELVO_MODEL_SEED on. A failure is shrunk, and the small case run once
// more so that its tree is kept.
TEST(Model, RandomCasesRemoveWhatTheModelSaysAndNothingElse) {
  int cases = FromEnvironment("KELVO_MODEL_CASES", 300);
  auto first = static_cast<uint32_t>(FromEnvironment("KELVO_MODEL_SEED", 1));
  for (uint32_t seed = first; seed < first + static_cast<uint32_t>(cases); ++seed) {
    model::Case c = RandomCase(seed);
    std::string problem = CheckCase(c);
    if (problem.empty()) continue;
    model::Case small = Shrink(c);
    ADD_FAILURE() << "seed " << seed << " (KELVO_MODEL_SEED=" << seed
                  << " KELVO_MODEL_CASES=1 repeats it):" << problem << "\nshrunk to:\n"
                  << DescribeCase(small) << CheckCase(small);
    return;
  }
}

}  // namespace
}  // namespace e2e
