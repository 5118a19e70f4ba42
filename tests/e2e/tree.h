// Temporary directory trees for end-to-end runs, described in a compact
// notation, one entry a string:
//
//   "A.PAS"              empty file
//   "A.EXE=hello"        file holding the bytes after "="
//   "SUB/"               directory (parents of any entry are made as needed)
//   "SUB/X.PAS"          an entry inside a directory
//   "D.EXE->realdir"     symbolic link holding the text after "->" (may dangle)
//   "ro:A.EXE=12345"     entry whose write bits are cleared once it is made
//   "fifo:F.EXE"         named pipe
//   "sparse:A.EXE=3221225472"  sparse file of that many bytes
//
// Names are bytes: anything but "/" and NUL may stand in them, except that a
// name cannot hold "=" or "->", which the notation takes for itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace e2e {

// Entries of a tree, in the notation above.
using Names = std::vector<std::string>;

class ScopedTree {
 public:
  // A fresh directory below $TMPDIR (or /tmp) holding `entries`.
  explicit ScopedTree(const std::vector<std::string>& entries = {});
  // Removes the tree, unless the running test has failed: then the tree is
  // kept as the failure left it, and its path is printed.
  ~ScopedTree();
  ScopedTree(const ScopedTree&) = delete;
  ScopedTree& operator=(const ScopedTree&) = delete;

  // Absolute path with no link in it, as the program sees its directory.
  const std::string& path() const { return path_; }
  std::string PathOf(std::string_view name) const { return path_ + "/" + std::string(name); }

  void Add(std::string_view entry);
  // What the tree holds now, sorted bytewise, in the notation above but
  // without contents or "ro:": "A.PAS", "SUB/", "SUB/X.PAS", "D.EXE->realdir",
  // "fifo:F.EXE".
  std::vector<std::string> Left() const;
  // Contents of a file in the tree; a link is followed.
  std::string Read(std::string_view name) const;

 private:
  std::string path_;
};

// Removes a file, or a directory tree of any depth without following links;
// a directory whose write bit a test cleared is opened up first.
void RemoveTree(const std::string& path);

// Opens the directory `depth` levels down a chain of directories each named
// `name` below `root`, making the missing ones when `make`; -1 when one is
// missing. Each step goes from the descriptor of the last, so the chain may
// reach past PATH_MAX.
int OpenChain(const std::string& root, const std::string& name, int depth, bool make);

}  // namespace e2e
