// Names as a POSIX terminal is shown them.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/quoting.h"

namespace {

struct QuotingCase {
  std::string name;
  std::string shown;
};

TEST(TerminalQuoting, CharactersOfNoWidthOrThatReorderTheLineAreEscaped) {
  const QuotingCase cases[] = {
      {"a.bak", "a.bak"},
      // Zero width: would look like a.bak.
      {"a\u200B.bak", "'a'$'\\342\\200\\213''.bak'"},
      {"a\u200D.bak", "'a'$'\\342\\200\\215''.bak'"},
      {"\uFEFFa.bak", "$'\\357\\273\\277''a.bak'"},
      {"a\u00AD.bak", "'a'$'\\302\\255''.bak'"},
      {"a\u034F.bak", "'a'$'\\315\\217''.bak'"},
      // A right-to-left override would show thesiskab.pdf.
      {"thesis\u202Efdp.bak", "'thesis'$'\\342\\200\\256''fdp.bak'"},
      {"\u2066x\u2069\u061C.bak", "$'\\342\\201\\246''x'$'\\342\\201\\251\\330\\234''.bak'"},
      {"a\u2028b\u2029.bak", "'a'$'\\342\\200\\250''b'$'\\342\\200\\251''.bak'"},
      // Beyond the first plane: a tag character.
      {"a\U000E0041.bak", "'a'$'\\363\\240\\201\\201''.bak'"},
      // Their neighbours show as text: a hair space, a hyphen, a narrow
      // no-break space, a combining accent.
      {"a\u200A\u2010\u2027\u202F\u0301.bak", "a\u200A\u2010\u2027\u202F\u0301.bak"},
  };
  for (const QuotingCase& c : cases) EXPECT_EQ(QuotedForTerminal(c.name, true), c.shown) << c.name;
}

}  // namespace

#endif
