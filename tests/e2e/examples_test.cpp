// The sample companion files shipped in examples/, laid beside the program as
// a user would lay them: every rule line and every mask at work on a small
// tree of its own, and the files as the loader needs them.
#include "examples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <utility>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

// The lines of a companion file, which must each end in CR LF: a lone LF
// would join lines, a TAB would merge words.
std::vector<std::string> LinesOf(const std::string& bytes, size_t maxLength) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "last line without CR LF";
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n\t\x1a"), std::string::npos) << line;
    EXPECT_FALSE(line.empty());
    EXPECT_LE(line.size(), maxLength) << line;
    lines.push_back(line);
    start = end + 2;
  }
  EXPECT_LE(lines.size(), 30u);
  return lines;
}

std::vector<std::string> WordsOf(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(Examples, EachRuleLineDeletesWhatItsSourceLeftAndNothingElse) {
  // Stored with the space the loader appends, a line must still fit its
  // slot, or its last word would be cut off.
  const std::vector<std::string> lines = LinesOf(ExampleBytes("KELVO.EXT"), 79);
  EXPECT_GE(lines.size(), 19u);
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(line.find("  "), std::string::npos);
    EXPECT_NE(line[0], ' ');
    std::vector<std::string> words = WordsOf(line);
    ASSERT_GE(words.size(), 2u);
    // Files derived from "prog" go, in the order the line names them; the
    // source, another name of the source's base and files whose source is
    // missing stay. The word "." names the file without an extension.
    Names entries{"prog" + words[0], "prog.txt=text"};
    Names left = {"prog" + words[0], "prog.txt"};
    for (size_t i = 1; i < words.size(); ++i) {
      const std::string file = words[i] == "." ? "" : words[i];
      entries.push_back("prog" + file + "=" + words[i]);
      entries.push_back("lone" + file);
      left.push_back("lone" + file);
    }
    ScopedTree tree(entries);
    // Without the masks, some of which take such files whatever their name.
    RunOptions options = WithExamples();
    options.args.push_back("/T");
    RunResult run = RunKelvo(tree, options);
    EXPECT_EQ(run.exitCode, 0);
    Transcript expected;
    expected.Banner();
    int64_t removed = 0;
    for (size_t i = 1; i < words.size(); ++i) {
      // Windows names the file as it was asked for, the dot kept.
      expected.Offer(tree, words[i] == "." && !UnderWine() ? "prog" : "prog" + words[i], 0);
      removed += static_cast<int64_t>(words[i].size());
    }
    EXPECT_TRUE(SameOutput(run, expected.Summary(removed)));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(tree.Left(), left);
  }
}

TEST(Examples, EachMaskDeletesWhatItNamesOnly) {
  struct Case {
    std::string mask;
    std::string made;
    Names kept;
  };
  // Editor backups, then the objects CMake and Meson name after the whole
  // source name (".obj" where they build for Windows) with their dependency
  // lists, libtool's objects and archives, automake's objects for a target
  // of its own flags, gcov's files named after the program, gcc's default
  // output. Beside each, a name that only resembles it.
  const std::vector<Case> cases = {
      {"*.bak", "main.c.bak", {"bak", "main.c", "main.bak.c"}},
      {"*~", "main.c~", {"main.c", "~main.c"}},
      {"*.~*", "unit1.~pas", {"unit1.pas", "~unit1.pas"}},
      {"#*#", "#main.c#", {"#main.c", "main.c#"}},
      {"*.c.o", "util.c.o", {"util.c", "util.c.od", "c.o"}},
      {"*.cc.o", "app.cc.o", {"app.cc", "app.cco"}},
      {"*.cpp.o", "app.cpp.o", {"app.cpp", "app.cpp.old"}},
      {"*.cxx.o", "app.cxx.o", {"app.cxx", "app.o.cxx"}},
      {"*.f.o", "legacy.f.o", {"legacy.f", "legacy.fo"}},
      {"*.f90.o", "run.f90.o", {"run.f90", "run.f90.orig"}},
      {"*.o.d", "util.c.o.d", {"util.d", "o.d"}},
      {"*.c.obj", "util.c.obj", {"util.c", "util.c.objx"}},
      {"*.cc.obj", "app.cc.obj", {"app.cc"}},
      {"*.cpp.obj", "app.cpp.obj", {"app.cpp"}},
      {"*.cxx.obj", "app.cxx.obj", {"app.cxx"}},
      {"*.obj.d", "app.cpp.obj.d", {"app.d", "obj.d"}},
      {"*_la-*.o", "libx_la-ltdl.o", {"ltdl.c", "libx-ltdl.o", "libx_la-ltdl.h"}},
      {"*.lo", "ltdl.lo", {"ltdl.c", "ltdl.lock"}},
      {"*.la", "libltdl.la", {"libltdl.c", "libltdl.lang"}},
      {"*.gcno", "hello-hello.gcno", {"hello.c"}},
      {"*.gcda", "hello-hello.gcda", {"hello.c"}},
      {"a.out", "a.out", {"a.out.h", "b.out"}},
  };
  const std::vector<std::string> masks = LinesOf(ExampleBytes("KELVO.TAB"), 12);
  ASSERT_EQ(masks.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(masks[i], c.mask);
    Names entries = c.kept;
    entries.push_back(c.made + "=output");
    ScopedTree tree(entries);
    RunResult run = RunKelvo(tree, WithExamples());
    EXPECT_EQ(run.exitCode, 0);
    Transcript expected;
    EXPECT_TRUE(SameOutput(run, expected.Banner().Offer(tree, c.made, 0).Summary(6)));
    Names kept = c.kept;
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(tree.Left(), kept);
  }
}

TEST(Examples, HandWrittenNamesakesOfASourceStayWhileTheBuiltInLeftoversGo) {
  // Files people write beside a source of the same base name: a SWIG
  // interface (.i, .ii), an expect or DejaGnu script (.exp), a D module (.d),
  // a reStructuredText page (.rst). A sample rule naming one would take it.
  const std::vector<std::pair<Names, Names>> handWritten = {
      {{".c", ".cpp", ".cc", ".cxx"}, {".i", ".ii", ".exp", ".d"}},
      {{".pas", ".pp", ".lpr", ".dpr"}, {".rst"}},
  };
  Names entries, left;
  for (const auto& [sources, kinds] : handWritten) {
    for (const std::string& source : sources) {
      const std::string dir = source.substr(1) + "/";
      left.push_back(dir);
      Names exts = kinds;
      exts.push_back(source);
      for (const std::string& ext : exts) {
        entries.push_back(dir + "example" + ext + "=written by hand");
        left.push_back(dir + "example" + ext);
      }
    }
  }
  // What the built-in rules take for the sources the samples also have:
  // .PAS .EXE .TPU .TPP .TPW and .FOR .EXE .OBJ.
  for (const char* entry :
       {"tp/PROG.PAS", "tp/PROG.EXE=x", "tp/PROG.TPU=x", "tp/PROG.TPP=x", "tp/PROG.TPW=x",
        "tp/UNIT1.PAS", "tp/UNIT1.TPU=x", "f77/CALC.FOR", "f77/CALC.EXE=x", "f77/CALC.OBJ=x"})
    entries.push_back(entry);
  for (const char* kept : {"tp/", "tp/PROG.PAS", "tp/UNIT1.PAS", "f77/", "f77/CALC.FOR"})
    left.push_back(kept);
  ScopedTree tree(entries);
  RunOptions options = WithExamples();
  options.args.push_back("/S");
  RunResult run = RunKelvo(tree, options);
  EXPECT_EQ(run.exitCode, 0);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(tree.Left(), left);
}

TEST(Examples, MixedProjectTreeKeepsOnlyItsSources) {
  // Two sources of one base name and more objects than a few: "main.o" is
  // deleted for the first and no longer found for the second.
  Names libraries;
  for (int i = 10; i <= 25; ++i) libraries.push_back("lib" + std::to_string(i) + ".o");
  Names entries = {"main.cpp",
                   "main.o",
                   "main.exe",
                   "main.cpp~",
                   "util.h",
                   "util.h.gch",
                   "util.c",
                   "util.obj",
                   "util.pdb",
                   "app.rc",
                   "app.res",
                   "pascal/hello.pas",
                   "pascal/hello.o",
                   "pascal/hello.ppu",
                   "pascal/hello.~pas",
                   "pascal/game.lpr",
                   "pascal/game.or",
                   "pascal/game.exe",
                   "fortran/solver.f90",
                   "fortran/solver.o",
                   "fortran/solver.mod",
                   "fortran/old.f",
                   "fortran/old.obj",
                   "java/Hello.java",
                   "java/Hello.class",
                   "java/Notes.txt.bak",
                   "java/#Hello.java#",
                   "lib/ext.o",
                   "lib/ext.class",
                   "main.c"};
  entries.insert(entries.end(), libraries.begin(), libraries.end());
  ScopedTree tree(entries);
  RunOptions options = WithExamples();
  options.args.push_back("/S");
  RunResult run = RunKelvo(tree, options);
  EXPECT_EQ(run.exitCode, 0);
  Names left = {"app.rc",          "fortran/",         "fortran/old.f", "fortran/solver.f90",
                "java/",           "java/Hello.java",  "lib/",          "lib/ext.class",
                "lib/ext.o",       "main.c",           "main.cpp",      "pascal/",
                "pascal/game.lpr", "pascal/hello.pas", "util.c",        "util.h"};
  left.insert(left.end(), libraries.begin(), libraries.end());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(tree.Left(), left);
}

}  // namespace
}  // namespace e2e
