#include "run/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/console.h"
#include "run/messages.h"
#include "run/run_state.h"
#include "scratch_dir.h"

namespace {

using Args = std::vector<std::string>;

// Where the arguments are parsed: a scratch directory holding the
// directories SUB and OTHER and the file A.TXT. The process stands in it
// with a fresh run state, and goes back where it was afterwards.
class ParseSite {
 public:
  ParseSite() : home_(CurrentDirectory()) {
    dir_.MakeDir("SUB");
    dir_.MakeDir("OTHER");
    dir_.Put("A.TXT", "");
    EXPECT_TRUE(ChangeDirectory(dir_.path()));
    ResetRunState();
  }
  ~ParseSite() { ChangeDirectory(home_); }

  const ScratchDir& dir() const { return dir_; }

  // Parses and keeps what was written, so a failure shows the position named.
  CommandLineResult Parse(const Args& arguments) {
    Flush();
    testing::internal::CaptureStdout();
    CommandLineResult result = ParseArguments(arguments);
    Flush();
    output_ = testing::internal::GetCapturedStdout();
    return result;
  }
  const std::string& output() const { return output_; }

 private:
  std::string home_;
  ScratchDir dir_;
  std::string output_;
};

std::string ErrorAt(int position) {
  return std::string(text::kParameterError.view()) + std::to_string(position) + ".\r\n";
}

void ExpectEnd(const CommandLineResult& result, int exitCode) {
  EXPECT_TRUE(result.endRun);
  EXPECT_EQ(result.exitCode, exitCode);
}

// The run ends with the error for `position` and nothing else written.
void ExpectErrorAt(ParseSite& site, const Args& arguments, int position) {
  ExpectEnd(site.Parse(arguments), 1);
  EXPECT_EQ(site.output(), ErrorAt(position));
}

}  // namespace

TEST(CommandLine, SplitterSeparatesArgumentsAtAnyByteFromOneTo32) {
  EXPECT_EQ(SplitCommandLine("kelvo.exe /y sub"), (Args{"/y", "sub"}));
  EXPECT_EQ(SplitCommandLine("kelvo  \t /y\x01/n\x1F"
                             "a\x0D\x0A"
                             "b   "),
            (Args{"/y", "/n", "a", "b"}));
  // Bytes from 128 up are text, even where a char is signed.
  EXPECT_EQ(SplitCommandLine("kelvo \x80\xFF \xE4\xA0"), (Args{"\x80\xFF", "\xE4\xA0"}));
  EXPECT_EQ(SplitCommandLine("kelvo"), Args{});
  EXPECT_EQ(SplitCommandLine(" \t kelvo \t "), Args{});
  EXPECT_EQ(SplitCommandLine(""), Args{});
}

TEST(CommandLine, SplitterQuotesOpenAStretchAnywhereInAnArgument) {
  EXPECT_EQ(SplitCommandLine("kelvo a\"b c\"d"), Args{"ab cd"});
  EXPECT_EQ(SplitCommandLine("kelvo \"a b\"   c"), (Args{"a b", "c"}));
  EXPECT_EQ(SplitCommandLine("kelvo \"a\"\"b\" a\"\"b"), (Args{"ab", "ab"}));
  EXPECT_EQ(SplitCommandLine("kelvo \"a\tb\x01\""), Args{"a\tb\x01"});
  // With no closing quote the stretch runs to the end of the line.
  EXPECT_EQ(SplitCommandLine("kelvo /y \"open  stretch "), (Args{"/y", "open  stretch "}));
}

TEST(CommandLine, SplitterEmptyQuotesAndALoneClosingQuoteAddNothing) {
  EXPECT_EQ(SplitCommandLine("kelvo \"\" /y"), Args{"/y"});
  EXPECT_EQ(SplitCommandLine("kelvo \"\" \"\"\"\" /y \"\""), Args{"/y"});
  EXPECT_EQ(SplitCommandLine("kelvo /y \""), Args{"/y"});
  EXPECT_EQ(SplitCommandLine("kelvo /y\""), Args{"/y"});
}

TEST(CommandLine, SplitterSkipsTheProgramNameWithWhateverIsGluedToIt) {
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\kelvo.exe\" /y"), Args{"/y"});
  EXPECT_EQ(SplitCommandLine("kelvo.exe/y /n"), Args{"/n"});
  EXPECT_EQ(SplitCommandLine("\"C:\\a b\\kelvo.exe\"/y /n"), Args{"/n"});
}

TEST(CommandLine, OptionsSetTheirRunFieldInEitherCase) {
  struct Option {
    const char* lower;
    const char* upper;
    bool RunState::*field;
    bool set;
  };
  const Option options[] = {{"/n", "/N", &RunState::askAtStart, false},
                            {"/s", "/S", &RunState::recurse, true},
                            {"/t", "/T", &RunState::useMasks, false},
                            {"/y", "/Y", &RunState::askEachFile, false}};
  for (const Option& option : options) {
    for (const char* argument : {option.lower, option.upper}) {
      SCOPED_TRACE(argument);
      ParseSite site;
      RunState before = run;
      CommandLineResult result = site.Parse({argument, argument});
      EXPECT_FALSE(result.endRun);
      EXPECT_EQ(site.output(), "");
      EXPECT_EQ(run.*option.field, option.set);
      for (const Option& other : options) {
        if (other.field == option.field) continue;
        EXPECT_EQ(run.*other.field, before.*other.field);
      }
      EXPECT_EQ(CurrentDirectory(), site.dir().path());
    }
  }
}

TEST(CommandLine, AllOptionsTogetherLeaveTheDirectoryAlone) {
  ParseSite site;
  CommandLineResult result = site.Parse({"/N", "/s", "/T", "/y"});
  EXPECT_FALSE(result.endRun);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(run.askAtStart);
  EXPECT_TRUE(run.recurse);
  EXPECT_FALSE(run.useMasks);
  EXPECT_FALSE(run.askEachFile);
  EXPECT_EQ(PlaceText(), site.dir().path());
  EXPECT_EQ(run.driveNumber, 0);
}

TEST(CommandLine, BadOptionsStopAtTheirPositionWithEarlierOnesApplied) {
  for (const char* bad : {"/SY", "/sy", "/", "//", "/X", "/1", "/??", "/ "}) {
    SCOPED_TRACE(bad);
    ParseSite site;
    ExpectErrorAt(site, {"/N", bad, "/T", "SUB"}, 2);
    EXPECT_FALSE(run.askAtStart);
    EXPECT_TRUE(run.useMasks);
    EXPECT_EQ(CurrentDirectory(), site.dir().path());
  }
}

TEST(CommandLine, HelpEndsTheRunWithCodeZeroAndLaterArgumentsUnseen) {
  for (const char* help : {"/?", "-h", "--help"}) {
    SCOPED_TRACE(help);
    ParseSite site;
    ExpectEnd(site.Parse({"/N", help, "/T", "/SY"}), 0);
    EXPECT_FALSE(run.askAtStart);
    EXPECT_TRUE(run.useMasks);
    EXPECT_NE(site.output(), "");
    EXPECT_EQ(site.output().find(text::kParameterError.view()), std::string::npos);
  }
  ParseSite site;
  ExpectEnd(site.Parse({"/N", "--version", "/SY"}), 0);
  EXPECT_EQ(site.output(), std::string(text::kBanner3.view()) + "\r\n");
}

TEST(CommandLine, AnyOtherDashWordIsAnErrorEvenWhereSuchADirectoryExists) {
  for (const char* bad : {"-x", "-H", "--HELP", "--", "-", "-version", "--help=1"}) {
    SCOPED_TRACE(bad);
    ParseSite site;
    site.dir().MakeDir(bad);
    ExpectErrorAt(site, {"/N", bad, "/T"}, 2);
    EXPECT_EQ(CurrentDirectory(), site.dir().path());
  }
}

TEST(CommandLine, DirectoryArgumentIsEnteredAndNamedAsTyped) {
  ParseSite site;
  site.dir().MakeDir("sub dir\xE4");
  EXPECT_FALSE(site.Parse({"/y", "sub dir\xE4"}).endRun);
  EXPECT_EQ(CurrentDirectory(), site.dir().PathOf("sub dir\xE4"));
  EXPECT_EQ(PlaceText(), "sub dir\xE4");
  EXPECT_FALSE(run.askEachFile);
  // Only a drive letter names a drive: SUB is not drive S.
  EXPECT_EQ(run.driveNumber, 0);
}

TEST(CommandLine, AbsoluteDirectoryIsADirectoryArgumentNotAnOption) {
  ParseSite site;
  std::string sub = site.dir().PathOf("SUB");
  EXPECT_FALSE(site.Parse({sub, "/s"}).endRun);
  EXPECT_EQ(CurrentDirectory(), sub);
  EXPECT_EQ(PlaceText(), sub);
  EXPECT_TRUE(run.recurse);
  EXPECT_EQ(run.driveNumber, 0);
}

TEST(CommandLine, LongDirectoryArgumentIsTakenWhole) {
  ParseSite site;
  std::string deep = std::string(200, 'D') + "/" + std::string(200, 'E');
  site.dir().MakeDir(deep);
  EXPECT_FALSE(site.Parse({deep}).endRun);
  EXPECT_EQ(CurrentDirectory(), site.dir().PathOf(deep));
  EXPECT_EQ(PlaceText(), deep);
}

TEST(CommandLine, SecondDirectoryIsAnErrorAfterTheFirstIsEntered) {
  for (const char* second : {"OTHER", "SUB", "MISSING"}) {
    SCOPED_TRACE(second);
    ParseSite site;
    ExpectErrorAt(site, {"SUB", "/n", second, "/t"}, 3);
    EXPECT_EQ(CurrentDirectory(), site.dir().PathOf("SUB"));
    EXPECT_FALSE(run.askAtStart);
    EXPECT_TRUE(run.useMasks);
  }
}

TEST(CommandLine, DirectoryThatCannotBeEnteredIsAnErrorEvenBeforeHelp) {
  for (const char* bad : {"MISSING", "A.TXT", "SUB/A.TXT"}) {
    SCOPED_TRACE(bad);
    ParseSite site;
    ExpectErrorAt(site, {bad, "/?"}, 1);
    EXPECT_EQ(CurrentDirectory(), site.dir().path());
  }
}

TEST(CommandLine, ErrorAfterADirectoryLeavesTheDirectoryEntered) {
  ParseSite site;
  ExpectErrorAt(site, {"/Y", "SUB", "/X"}, 3);
  EXPECT_EQ(CurrentDirectory(), site.dir().PathOf("SUB"));
  EXPECT_EQ(PlaceText(), "SUB");
  EXPECT_FALSE(run.askEachFile);
}

TEST(CommandLine, EmptyQuotedArgumentsTakeNoPosition) {
  ParseSite site;
  ExpectErrorAt(site, SplitCommandLine("kelvo \"\" /n \"\" /SY"), 2);
  EXPECT_FALSE(run.askAtStart);
}
