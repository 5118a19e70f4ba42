// The sample companion files on what real compilers make, built here as a
// user builds by hand, and on the names of files a system ships.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ranges>
#include <string>
#include <string_view>
#include <vector>

#include "examples.h"
#include "expect.h"
#include "process.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

// Whether `program` is an executable file in a directory of $PATH.
bool OnPath(const std::string& program) {
  const char* path = getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "";
  while (!dirs.empty()) {
    size_t colon = dirs.find(':');
    std::string dir(dirs.substr(0, colon));
    if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    dirs.remove_prefix(colon == std::string_view::npos ? dirs.size() : colon + 1);
  }
  return false;
}

TEST(Examples, RealBuildsLoseOnlyWhatTheCompilersMadeAndTheirProgramsGo) {
  // Each compiler builds in a directory of its own as a user would by hand:
  // objects, coverage notes and data, precompiled units and modules, and
  // programs named after their source or gcc's a.out.
  struct Build {
    std::string compiler;
    Names sources;
    std::vector<std::vector<std::string>> commands;  // in the directory
    Names mustGo;
  };
  const std::vector<Build> builds = {
      {"gcc",
       {"c/util.c=int twice(int x) { return 2 * x; }\n",
        "c/hello.c=int twice(int);\nint main(void) { return twice(0); }\n",
        "c/util.h=int twice(int);\n"},
       {{"gcc", "-c", "util.c"},
        {"gcc", "--coverage", "-o", "hello", "hello.c", "util.o"},
        {"./hello"},
        {"gcc", "hello.c", "util.c"}},
       {"c/util.o", "c/hello", "c/a.out"}},
      {"g++",
       {"cpp/calc.cpp=int main() { return 0; }\n", "cpp/tool.cc=int main() { return 0; }\n"},
       {{"g++", "-o", "calc", "calc.cpp"},
        {"g++", "-c", "tool.cc"},
        {"g++", "-o", "tool", "tool.o"}},
       {"cpp/calc", "cpp/tool.o", "cpp/tool"}},
      {"gfortran",
       {"f/solver.f90=module solver\ncontains\n  integer function twice(x)\n    integer :: x\n"
        "    twice = 2 * x\n  end function\nend module\n",
        "f/run.f90=program run\n  use solver\n  print *, twice(2)\nend program\n"},
       {{"gfortran", "-c", "solver.f90"}, {"gfortran", "-o", "run", "run.f90", "solver.o"}},
       {"f/solver.o", "f/solver.mod", "f/run"}},
      {"fpc",
       {"pas/mathu.pas=unit mathu;\ninterface\nfunction twice(x: integer): integer;\n"
        "implementation\nfunction twice(x: integer): integer;\nbegin\n  twice := 2 * "
        "x\nend;\nend.\n",
        "pas/prog.pas=program prog;\nuses mathu;\nbegin\n  writeln(twice(2))\nend.\n"},
       {{"fpc", "-l-", "-v0", "prog.pas"}},
       {"pas/mathu.ppu", "pas/mathu.o", "pas/prog.o", "pas/prog"}},
  };
  ScopedTree tree;
  std::string missing;
  std::vector<const Build*> built;
  Names mustGo;
  for (const Build& build : builds) {
    if (!OnPath(build.compiler)) {
      missing += " " + build.compiler;
      continue;
    }
    for (const std::string& source : build.sources) tree.Add(source);
    built.push_back(&build);
    mustGo.insert(mustGo.end(), build.mustGo.begin(), build.mustGo.end());
  }
  if (built.empty()) GTEST_SKIP() << "no compiler on PATH:" << missing;
  const Names before = tree.Left();
  for (const Build* build : built) {
    const std::string dir = tree.PathOf(build->sources[0].substr(0, build->sources[0].find('/')));
    for (const std::vector<std::string>& command : build->commands) {
      RunResult made = RunProcess(command, EnvironmentWith({}), dir, std::nullopt, 120);
      ASSERT_EQ(made.exitCode, 0) << testing::PrintToString(command) << made.out << made.err;
    }
  }
  const Names after = tree.Left();
  RunOptions options = WithExamples();
  options.args.push_back("/S");
  RunResult run = RunKelvo(tree, options);
  EXPECT_EQ(run.exitCode, 0);
  const Names left = tree.Left();
  for (const std::string& name : after) {
    const bool wasThere = std::ranges::binary_search(before, name);
    const bool kept = std::ranges::binary_search(left, name);
    EXPECT_TRUE(kept || !wasThere) << name << " was no output of the build, and went";
  }
  for (const std::string& name : mustGo) {
    EXPECT_TRUE(std::ranges::binary_search(after, name)) << name << " was not made";
    EXPECT_FALSE(std::ranges::binary_search(left, name)) << name << " stayed";
  }
  if (!missing.empty()) GTEST_SKIP() << "not on PATH, so not built:" << missing;
}

TEST(Examples, ShippedHeadersAreOfferedNothing) {
  // A few hundred names spread over the system's headers, the files empty:
  // rules and masks look at names alone.
  std::vector<std::string> all;
  std::error_code error;
  namespace fs = std::filesystem;
  for (fs::recursive_directory_iterator it("/usr/include", error), end; !error && it != end;
       it.increment(error)) {
    std::string name = fs::relative(it->path(), "/usr/include").string();
    if (it->is_regular_file() && !it->is_symlink() && name.find('=') == std::string::npos &&
        name.find("->") == std::string::npos)
      all.push_back(name);
  }
  if (all.size() < 100) GTEST_SKIP() << "fewer than 100 headers in /usr/include";
  std::sort(all.begin(), all.end());
  const size_t count = std::min<size_t>(400, all.size());
  Names headers;
  for (size_t i = 0; i < count; ++i) headers.push_back(all[i * all.size() / count]);
  ScopedTree tree(headers);
  const Names before = tree.Left();
  RunOptions options = WithExamples();
  options.args.push_back("/S");
  RunResult run = RunKelvo(tree, options);
  EXPECT_EQ(run.exitCode, 0);
  Transcript expected;
  EXPECT_TRUE(SameOutput(run, expected.Banner().Summary(0)));
  EXPECT_EQ(tree.Left(), before);
}

}  // namespace
}  // namespace e2e
