// What a /S /N /Y run deletes, worked out apart from the program's code: from
// a tree, the lines of the mask file and of the rule file, it answers the
// files removed, the bytes counted and the file messages in order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e::model {

enum class Kind { kFile, kFileLink, kDirLink, kFifo, kDir };

struct Node {
  Kind kind = Kind::kFile;
  bool readOnly = false;
  std::string content;  // of a file
  std::string target;   // of a link
};

using Dir = std::map<std::string, Node>;  // name -> entry
using Tree = std::map<std::string, Dir>;  // "" or "a/b" -> its entries

struct Case {
  Tree tree;
  std::optional<std::vector<std::string>> maskLines;  // none: no mask file
  std::optional<std::vector<std::string>> ruleLines;  // none: no rule file
  bool useMasks = true;                               // false: /T given
};

struct Outcome {
  Tree left;
  int64_t removed = 0;
  // "removing PATH" and "cannot PATH", PATH relative to the tree with "/".
  std::vector<std::string> said;
};

// Directories are listed in ASCII-case-folded byte order, or the reverse. A
// derived file found by its name is announced as found by the Linux build,
// as the rule built the name by the Windows build.
Outcome Predict(const Case& c, bool reverseOrder = false);

std::string Join(const std::string& dir, const std::string& name);

}  // namespace e2e::model
