// Running a random case, judging it against the model, and shrinking it.
#include <algorithm>
#include <cstdlib>

#include "expect.h"
#include "random_case.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

using model::Case;
using model::Kind;
using model::Outcome;

// The tree's entries in ScopedTree notation: to make (contents, "ro:", and
// protected directories after what they hold), or as Left() shows them.
Names Entries(const model::Tree& tree, bool make) {
  Names out, protectedDirs;
  for (const auto& [dir, entries] : tree)
    for (const auto& [name, node] : entries) {
      std::string path = model::Join(dir, name);
      std::string ro = make && node.readOnly ? "ro:" : "";
      if (node.kind == Kind::kDir)
        (node.readOnly && make ? protectedDirs : out).push_back(ro + path + "/");
      else if (node.kind == Kind::kFifo)
        out.push_back("fifo:" + path);
      else if (node.kind != Kind::kFile)
        out.push_back(path + "->" + node.target);
      else
        out.push_back(ro + path + (make ? "=" + node.content : ""));
    }
  out.insert(out.end(), protectedDirs.begin(), protectedDirs.end());
  if (!make) std::sort(out.begin(), out.end());
  return out;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

Names Companions(const Case& c) {
  Names out;
  if (c.maskLines) out.push_back("KELVO.TAB=" + Lines(*c.maskLines));
  if (c.ruleLines) out.push_back("KELVO.EXT=" + Lines(*c.ruleLines));
  return out;
}

// Wine shows names in the ANSI code page: the Latin-1 letters the cases use
// become one byte each.
std::string AsShown(const std::string& text) {
  if (!UnderWine()) return text;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = text[i];
    if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size())
      out += static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F));
    else
      out += text[i];
  }
  return out;
}

// The file messages of a run, as the model words them; anything else between
// the banner and the summary is kept readably, and so differs.
std::vector<std::string> Said(const std::string& output, const ScopedTree& tree) {
  const std::string removing = Cp866("Удаляется файл:  "), cannot = Cp866("Не могу удалить файл: ");
  const std::string root = Shown(tree, "");
  std::vector<std::string> said;
  size_t at = 0;
  for (int line = 0; at < output.size(); ++line) {
    size_t end = output.find("\r\n", at);
    if (end == std::string::npos) end = output.size();
    std::string text = output.substr(at, end - at);
    at = end + 2;
    if (line < 3) continue;  // the banner
    if (text.starts_with("____")) break;
    std::string kind = text.starts_with(removing) ? "removing "
                       : text.starts_with(cannot) ? "cannot "
                                                  : "";
    std::string path = text.substr(kind.empty() ? 0 : (kind[0] == 'r' ? removing : cannot).size());
    if (kind.empty() || !path.starts_with(root)) {
      said.push_back("other " + Readable(text));
      continue;
    }
    path.erase(0, root.size());
    if (UnderWine()) std::replace(path.begin(), path.end(), '\\', '/');
    said.push_back(kind + path);
  }
  return said;
}

int64_t RemovedTotal(const std::string& output) {
  std::string label = Cp866("Размер удаленных файлов : ");
  size_t at = output.rfind(label);
  return at == std::string::npos ? -1
                                 : std::strtoll(output.c_str() + at + label.size(), nullptr, 10);
}

std::string Differences(const Names& expected, const Names& actual, const std::string& missing,
                        const std::string& extra) {
  std::string out;
  for (const auto& name : expected)
    if (std::find(actual.begin(), actual.end(), name) == actual.end())
      out += "\n  " + missing + Readable(name);
  for (const auto& name : actual)
    if (std::find(expected.begin(), expected.end(), name) == expected.end())
      out += "\n  " + extra + Readable(name);
  return out;
}

std::string Judge(const Outcome& expected, const ScopedTree& tree, const RunResult& run) {
  const Names left = tree.Left();  // sorted
  std::string problems = Differences(Entries(expected.left, false), left,
                                     "deleted, should stay: ", "left, should go:      ");
  for (const auto& [dir, entries] : expected.left)
    for (const auto& [name, node] : entries) {
      std::string path = model::Join(dir, name);
      if (node.kind == Kind::kFile && std::binary_search(left.begin(), left.end(), path) &&
          tree.Read(path) != node.content)
        problems += "\n  changed: " + Readable(path);
    }
  std::vector<std::string> said = Said(run.out, tree), want;
  for (const std::string& line : expected.said) want.push_back(AsShown(line));
  if (UnderWine()) {  // Wine lists a directory in the order Linux gives
    std::sort(said.begin(), said.end());
    std::sort(want.begin(), want.end());
  }
  if (said != want) problems += "\n  messages differ:" + Differences(want, said, "- ", "+ ");
  int64_t total = RemovedTotal(run.out);
  if (total != expected.removed)
    problems +=
        "\n  total " + std::to_string(total) + ", should be " + std::to_string(expected.removed);
  // A file announced and left makes the run end with 2.
  bool fellShort = std::any_of(expected.said.begin(), expected.said.end(),
                               [](const std::string& line) { return line.starts_with("cannot "); });
  if (run.exitCode != (fellShort ? 2 : 0) || total < 0)
    problems += "\n  exit code " + std::to_string(run.exitCode) + ", " +
                std::to_string(run.out.size()) + " bytes out; errors: " + run.err;
  return problems;
}

std::vector<Case> Smaller(const Case& c) {
  std::vector<Case> out;
  for (const auto& entry : c.tree) {
    const std::string& dir = entry.first;
    if (dir.empty()) continue;
    Case less = c;
    size_t slash = dir.rfind('/');
    less.tree[slash == std::string::npos ? "" : dir.substr(0, slash)].erase(dir.substr(slash + 1));
    std::erase_if(less.tree, [&dir](const auto& e) {
      return e.first == dir || e.first.starts_with(dir + "/");
    });
    out.push_back(less);
  }
  for (const auto& [dir, entries] : c.tree)
    for (const auto& [name, node] : entries)
      if (node.kind != Kind::kDir) {
        Case less = c;
        less.tree[dir].erase(name);
        out.push_back(less);
      }
  for (auto lines : {&Case::ruleLines, &Case::maskLines}) {
    if (!(c.*lines)) continue;
    for (size_t i = 0; i < (c.*lines)->size(); ++i) {
      Case less = c;
      (less.*lines)->erase((less.*lines)->begin() + static_cast<std::ptrdiff_t>(i));
      out.push_back(less);
      // Each word after the first left out in turn, with the blanks before it.
      const std::string& line = (*(c.*lines))[i];
      const char* blank = " \t";
      size_t word = line.find_first_not_of(blank);
      while (word != std::string::npos) {
        size_t end = line.find_first_of(blank, word);
        size_t next = end == std::string::npos ? end : line.find_first_not_of(blank, end);
        if (next == std::string::npos) break;
        size_t nextEnd = line.find_first_of(blank, next);
        Case shorter = c;
        (*(shorter.*lines))[i] =
            line.substr(0, end) + (nextEnd == std::string::npos ? "" : line.substr(nextEnd));
        out.push_back(shorter);
        word = next;
      }
    }
  }
  return out;
}

}  // namespace

std::string CheckCase(const Case& c) {
  ScopedTree tree(Entries(c.tree, true));
  RunOptions options;
  options.args = {"/S", "/N", "/Y"};
  if (!c.useMasks) options.args.push_back("/T");
  options.companions = Companions(c);
  // Wine spells non-ASCII names by the locale; the native build's output
  // would turn into UTF-8 text in it.
  if (UnderWine()) options.env = {"LANG=C.UTF-8", "LC_ALL", "LC_CTYPE"};
  RunResult run = RunKelvo(tree, options);
  std::string problems = Judge(model::Predict(c), tree, run);
  // Under Wine the order of a listing is not known, and a rule that deletes
  // sources of its own may take either outcome.
  if (!problems.empty() && UnderWine() && Judge(model::Predict(c, true), tree, run).empty())
    return "";
  return problems;
}

Case Shrink(Case c, int maxRuns) {
  for (bool progress = true; progress && maxRuns > 0;) {
    progress = false;
    for (const Case& less : Smaller(c)) {
      if (maxRuns-- <= 0) break;
      if (!CheckCase(less).empty()) {
        c = less;
        progress = true;
        break;
      }
    }
  }
  return c;
}

std::string DescribeCase(const Case& c) {
  std::string out = "  tree:";
  for (const std::string& entry : Entries(c.tree, true)) out += "\n    " + Readable(entry);
  auto file = [&out](const char* name, const auto& lines) {
    out += std::string("\n  ") + name + (lines ? ":" : ": none");
    if (lines)
      for (const std::string& line : *lines) out += "\n    \"" + Readable(line) + "\"";
  };
  file("KELVO.TAB", c.maskLines);
  file("KELVO.EXT", c.ruleLines);
  if (!c.useMasks) out += "\n  with /T";
  return out;
}

}  // namespace e2e
