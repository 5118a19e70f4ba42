// The mask file and the rule file laid beside the program: what they make the
// sweep delete, and what bad ones must not make it delete.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "expect.h"
#include "runner.h"
#include "tree.h"

namespace e2e {
namespace {

using namespace std::string_literals;

// `text` as editors save it as "Unicode": UTF-16 after a byte-order mark.
std::string Utf16WithMark(std::u16string_view text, bool bigEndian) {
  std::string bytes;
  for (char16_t unit : u"\uFEFF" + std::u16string(text)) {
    char high = char(unit >> 8), low = char(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

TEST(Companions, WildcardsInAnyPlaceFindTheSameFilesOnBothBuilds) {
  // Some kernels' own searches find nothing for "*?AS": the program's
  // matcher decides on every build. The companion files read alike however
  // an editor saved them: plain UTF-8, after a UTF-8 byte-order mark, or as
  // UTF-16 in either byte order.
  const std::string rules = "?AS .FOR\r\n.пас .ехе\r\n", masks = "*?.B?K\r\n?.*.?\r\n";
  const std::u16string rules16 = u"?AS .FOR\r\n.пас .ехе\r\n", masks16 = u"*?.B?K\r\n?.*.?\r\n";
  const std::pair<std::string, std::string> forms[] = {
      {rules, masks},
      {"\xEF\xBB\xBF" + rules, "\xEF\xBB\xBF" + masks},
      {Utf16WithMark(rules16, false), Utf16WithMark(masks16, false)},
      {Utf16WithMark(rules16, true), Utf16WithMark(masks16, true)},
  };
  for (const auto& [ruleFile, maskFile] : forms) {
    SCOPED_TRACE(testing::PrintToString(ruleFile));
    ScopedTree tree({"x.PAS", "x.FOR=ab", "Lib.v2.PAS", "Lib.v2.FOR=c", "old.BAK=1234", "keep.txt",
                     "a.b.c", "b.пас", "b.ехе=6789"});
    RunResult run =
        RunKelvo(tree, RunOptions()
                           .WithArgs({"/N", "/Y"})
                           .WithCompanions({"KELVO.EXT=" + ruleFile, "KELVO.TAB=" + maskFile}));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(tree.Left(), (Names{"Lib.v2.PAS", "b.пас", "keep.txt", "x.PAS"}));
  }
}

TEST(Companions, DotWordNamesTheProgramBuiltWithoutAnExtension) {
  // "hello." is "hello" on both builds; "a.b." is no name for "a.b", whose
  // extension is not the dot.
  ScopedTree tree({"hello.c", "hello=elf", "hello.o=obj", "a.b.c", "a.b=ab"});
  RunResult run =
      RunKelvo(tree, RunOptions().WithArgs({"/N", "/Y"}).WithCompanions({"KELVO.EXT=.c . .o\r\n"}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(tree.Left(), (Names{"a.b", "a.b.c", "hello.c"}));
}

TEST(Companions, MaskFileAndRuleFileBesideTheProgram) {
  // The names differ in case from the program's own (kelvo, kelvo.exe): they
  // are found all the same. The rule file in the cleaning directory is no
  // companion: read, it would delete P.PAS.
  ScopedTree tree({"P.PAS", "P.EXE=pe", "C.C", "C.OBJ=obj", "C.EXE=cexe", "X.BAK=bak",
                   "N.~PA=tilde", "K.TXT", "KELVO.EXT=.PAS .PAS\r\n"});
  const std::string masks = "KELVO.TAB=*.BAK\r\n*.~*\r\n";
  RunResult run =
      RunKelvo(tree, Keys("yyyyy").WithCompanions({masks, "kelvo.ext=.C .OBJ .EXE\r\n"}));
  EXPECT_EQ(run.exitCode, 0);
  // Mask hits first, in mask order; the rule file's rule instead of the
  // built-in ones, so P.EXE stays.
  EXPECT_TRUE(SameOutput(run, Opening('Y')
                                  .Offer(tree, "X.BAK", 'Y')
                                  .Offer(tree, "N.~PA", 'Y')
                                  .Offer(tree, "C.OBJ", 'Y')
                                  .Offer(tree, "C.EXE", 'Y')
                                  .Summary(3 + 5 + 3 + 4)));
  EXPECT_EQ(tree.Left(), (Names{"C.C", "K.TXT", "KELVO.EXT", "P.EXE", "P.PAS"}));

  // /T skips the masks; an empty rule file brings back the built-in rules,
  // whose .BAK rule then finds X.BAK.
  tree.Add("X.BAK=bak");
  tree.Add("N.~PA=tilde");
  tree.Add("C.OBJ=obj");
  run = RunKelvo(tree, Keys("yyyy").WithArgs({"/T"}).WithCompanions({masks, "KELVO.EXT="}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(
      run, Opening('Y').Offer(tree, "P.EXE", 'Y').Offer(tree, "X.BAK", 'Y').Summary(2 + 3)));
  EXPECT_EQ(tree.Left(), (Names{"C.C", "C.OBJ", "K.TXT", "KELVO.EXT", "N.~PA", "P.PAS"}));
}

TEST(Companions, EachIsLookedForBesideTheProgramThenInTheConfigDirectories) {
  // Natively, after the program's own directory: $XDG_CONFIG_HOME/kelvo, then
  // each of $XDG_CONFIG_DIRS + /kelvo; the mask file and the rule file each
  // on its own, in any letter case, lines ended by LF alone. The Windows
  // build reads beside itself only.
  ScopedTree tree;
  ScopedTree config({"home/kelvo/KELVO.TAB=*.BAK\n*.TMP\n", "sys1/kelvo/",
                     "sys2/kelvo/kelvo.ext=.C .O\n", "sys2/kelvo/Kelvo.Tab=*.C\r\n"});
  const std::vector<std::string> env = {
      "XDG_CONFIG_HOME=" + config.PathOf("home"),
      "XDG_CONFIG_DIRS=" + config.PathOf("sys1") + ":" + config.PathOf("sys2")};
  const struct {
    Names beside;
    Names offered, offeredOnWindows;
  } cases[] = {
      {{}, {"B.BAK", "C.TMP", "A.O"}, {"X.EXE", "B.BAK"}},
      {{"KELVO.EXT=.PAS .EXE\r\n"}, {"B.BAK", "C.TMP", "X.EXE"}, {"X.EXE"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.beside));
    for (const char* file : {"A.C", "A.O=o", "B.BAK=bak", "C.TMP=tmp", "X.PAS", "X.EXE=exe"})
      tree.Add(file);
    RunOptions options = RunOptions().WithArgs({"/N", "/Y"}).WithCompanions(c.beside);
    options.env = env;
    RunResult run = RunKelvo(tree, options);
    Transcript quiet;
    quiet.Banner();
    int64_t removed = 0;
    for (const std::string& name : UnderWine() ? c.offeredOnWindows : c.offered) {
      quiet.Offer(tree, name, 0);
      removed += name == "A.O" ? 1 : 3;
    }
    EXPECT_TRUE(SameOutput(run, quiet.Summary(removed)));
  }
}

TEST(Companions, CompanionFilesInTheAnsiCodePageKeepTheirMeaningOnWindows) {
  // Written in code page 1252, Wine's ANSI code page: é and ê are single
  // bytes, no UTF-8. Windows, taking names in UTF-8, reads them in the ANSI
  // code page; POSIX takes the bytes as they are, which name no file here.
  // The second rule is UTF-8 cut at 80 bytes inside a character: still
  // UTF-8, its words before the cut keep their meaning.
  std::string cutRule = ".пас .ехе x";
  for (int i = 0; i < 40; ++i) cutRule += "ж";
  ScopedTree tree({"x.café=12", "a.pâs", "a.êxe=345", "b.пас", "b.ехе=6789"});
  RunResult run = RunKelvo(
      tree, Keys("yyyy").WithCompanions(
                {"KELVO.TAB=*.caf\xE9\r\n", "KELVO.EXT=.p\xE2s .\xEAxe\r\n" + cutRule + "\r\n"}));
  Transcript expected = Opening('Y');
  if (UnderWine())
    expected.Offer(tree, Redirected("x.café"), 'Y').Offer(tree, Redirected("a.êxe"), 'Y');
  expected.Offer(tree, Redirected("b.ехе"), 'Y').Summary(4 + (UnderWine() ? 2 + 3 : 0));
  EXPECT_TRUE(SameOutput(run, expected));
  EXPECT_EQ(tree.Left(),
            UnderWine() ? (Names{"a.pâs", "b.пас"}) : (Names{"a.pâs", "a.êxe", "b.пас", "x.café"}));
}

TEST(Companions, BadCompanionFilesDeleteNothingUnexpected) {
  ScopedTree tree({"A.PAS=src", "A.EXE=exe", "B.BAK=bak"});
  const Names all = tree.Left();

  // Binary bytes. A NUL cuts a name short in a C string: the source "\0\0\0"
  // would widen to "*" and make every file's .PAS and .EXE twins go, the
  // derived ".EXE\0" would name A.EXE.
  const std::string binaryRules = "\0\0\0 .PAS .EXE\r\n.PAS .EXE\0\r\n\x01\xff\x1b .BAK\r\n\0"s;
  const std::string binaryMasks = "*\0\r\n\0*.*\r\n\xfe\xff"s;
  RunResult run = RunKelvo(
      tree, Keys("yyyy").WithCompanions({"KELVO.EXT=" + binaryRules, "KELVO.TAB=" + binaryMasks}));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(SameOutput(run, Opening('Y').Summary(0)));
  EXPECT_EQ(tree.Left(), all);

  // 100 MB of NUL bytes and no line end: one rule that deletes nothing, read
  // within the run's time limit. A last mask line needs no line end.
  run = RunKelvo(tree,
                 Keys("yyyy").WithCompanions({"sparse:KELVO.EXT=104857600", "KELVO.TAB=*.BAK"}));
  EXPECT_TRUE(SameOutput(run, Opening('Y').Offer(tree, "B.BAK", 'Y').Summary(3)));
  EXPECT_EQ(tree.Left(), (Names{"A.EXE", "A.PAS"}));

  // Indented rules, by spaces and by TABs: the sources stay. Companions that
  // are no regular files count as missing: no masks, the built-in rules.
  // Natively a fifo must not hold up the start; under Wine a fifo is no
  // Windows file kind, so a directory stands in for it.
  const char* notAFile = UnderWine() ? "KELVO.TAB/" : "fifo:KELVO.TAB";
  for (const Names& companions :
       {Names{"KELVO.EXT=  .PAS   .EXE\r\n\t .BAK\t .BAK\r\n"}, Names{notAFile, "KELVO.EXT/"}}) {
    SCOPED_TRACE(companions[0]);
    tree.Add("A.EXE=exe");
    tree.Add("B.BAK=bak");
    run = RunKelvo(tree, Keys("yyyy").WithCompanions(companions));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameOutput(
        run, Opening('Y').Offer(tree, "A.EXE", 'Y').Offer(tree, "B.BAK", 'Y').Summary(3 + 3)));
    EXPECT_EQ(tree.Left(), (Names{"A.PAS"}));
  }
}

}  // namespace
}  // namespace e2e
