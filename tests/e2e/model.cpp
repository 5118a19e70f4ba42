#include "model.h"

#include <algorithm>

#include "runner.h"

namespace e2e::model {
namespace {

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// Both sides folded already.
bool Match(std::string_view p, std::string_view n) {
  if (p.empty()) return n.empty();
  if (p[0] == '*') return Match(p.substr(1), n) || (!n.empty() && Match(p, n.substr(1)));
  return !n.empty() && (p[0] == '?' || p[0] == n[0]) && Match(p.substr(1), n.substr(1));
}

// A name without a dot also matches a pattern ending in ".*" or "." as if
// that ending were not there.
bool Matches(const std::string& pattern, const std::string& name) {
  std::string p = Fold(pattern), n = Fold(name);
  if (!p.empty() && Match(p, n)) return true;
  if (n.find('.') != std::string::npos) return false;
  size_t ending = p.ends_with(".*") ? 2 : p.ends_with(".") ? 1 : 0;
  return ending > 0 && Match(std::string_view(p).substr(0, p.size() - ending), n);
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// Hidden (a leading dot), directories, links to directories and fifos are
// never found by the file searches.
bool Offered(const std::string& name, const Node& node) {
  return name[0] != '.' && (node.kind == Kind::kFile || node.kind == Kind::kFileLink);
}

std::vector<std::string> Masks(const Case& c) {
  std::vector<std::string> out;
  if (!c.useMasks || !c.maskLines) return out;
  for (const std::string& line : *c.maskLines)
    if (out.size() < 30) out.push_back(line.substr(0, 12));
  return out;
}

// Each rule as its words: the source first, then the derived words. A word
// cut short by the 80-character limit (no space after it) is no word.
std::vector<std::vector<std::string>> Rules(const Case& c) {
  std::vector<std::string> lines;
  if (c.ruleLines)
    for (const std::string& raw : *c.ruleLines) {
      if (lines.size() == 30) break;
      std::string line;
      for (char ch : raw)
        if (ch != '\t' && !(ch == ' ' && (line.empty() || line.back() == ' '))) line += ch;
      if (line.empty() || line.back() != ' ') line += ' ';
      lines.push_back(line.substr(0, 80));
    }
  if (lines.empty())
    lines = {".PAS .EXE .TPU .TPP .TPW ", ".FTN .FOR .EXE .OBJ ", ".FOR .EXE .OBJ ", ".BAK .BAK "};
  std::vector<std::vector<std::string>> rules;
  for (const std::string& line : lines) {
    std::vector<std::string> words;
    size_t at = 0, space;
    while ((space = line.find(' ', at)) != std::string::npos) {
      words.push_back(line.substr(at, space - at));
      at = space + 1;
    }
    if (words.empty()) words.push_back("");
    rules.push_back(words);
  }
  return rules;
}

std::string BaseName(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

struct Sweeper {
  const std::vector<std::string> masks;
  const std::vector<std::vector<std::string>> rules;
  bool namesAsFound;
  bool reverse;
  Outcome out;

  std::vector<std::string> Listed(const Dir& dir) const {
    std::vector<std::string> names;
    for (const auto& entry : dir) names.push_back(entry.first);
    std::sort(names.begin(), names.end(), [this](const std::string& a, const std::string& b) {
      return reverse ? Fold(b) < Fold(a) : Fold(a) < Fold(b);
    });
    return names;
  }

  void Remove(Dir& dir, const std::string& path, const std::string& shown,
              const std::string& name) {
    out.said.push_back("removing " + Join(path, shown));
    auto it = dir.find(name);
    if (it == dir.end() || it->second.readOnly) {
      out.said.push_back("cannot " + Join(path, shown));
      return;
    }
    out.removed += it->second.kind == Kind::kFile ? it->second.content.size() : 0;
    dir.erase(it);
  }

  void Sweep(Dir& dir, const std::string& path) {
    for (const std::string& mask : masks)
      for (const std::string& name : Listed(dir))
        if (Offered(name, dir[name]) && Matches(mask, name)) Remove(dir, path, name, name);
    for (const auto& rule : rules)
      for (const std::string& name : Listed(dir)) {
        auto source = dir.find(name);  // gone when deleted as a derived file
        if (source == dir.end() || !Offered(name, source->second) || !Matches("*" + rule[0], name))
          continue;
        for (size_t d = 1; d < rule.size(); ++d) {
          if (rule[d].empty()) continue;
          std::string candidate = BaseName(name) + rule[d];
          for (const std::string& found : Listed(dir)) {
            if (!Offered(found, dir[found]) || !Matches(candidate, found)) continue;
            // A pattern for a name is refused by the deletion.
            if (HasWildcard(candidate))
              Remove(dir, path, candidate, "");
            else
              Remove(dir, path, namesAsFound ? found : candidate, found);
            break;
          }
        }
      }
  }

  void Descend(Tree& tree, const std::string& path) {
    Sweep(tree[path], path);
    for (const std::string& name : Listed(tree[path])) {
      const Node& node = tree[path][name];
      if (name[0] != '.' && node.kind == Kind::kDir && !node.readOnly)
        Descend(tree, Join(path, name));
    }
  }
};

}  // namespace

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + "/" + name;
}

Outcome Predict(const Case& c, bool reverseOrder) {
  Sweeper sweeper{Masks(c), Rules(c), !UnderWine(), reverseOrder, {}};
  sweeper.out.left = c.tree;
  sweeper.Descend(sweeper.out.left, "");
  return sweeper.out;
}

}  // namespace e2e::model
