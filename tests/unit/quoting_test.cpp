#include "platform/posix/quoting.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

struct QuotingCase {
  std::string_view name;
  std::string_view shown;
};

template <size_t N>
void ExpectShown(bool utf8, const QuotingCase (&cases)[N]) {
  for (const QuotingCase& c : cases)
    EXPECT_EQ(QuotedForTerminal(c.name, utf8), c.shown)
        << (utf8 ? "UTF-8 terminal, name " : "single-byte terminal, name ")
        << testing::PrintToString(std::string(c.name));
}

}  // namespace

// What is text at the terminal is shown as it is; a quoted name reads back
// in a shell as exactly its bytes, quotes in it included.
TEST(TerminalQuoting, TextStaysAsItIsAndQuotedRunsEscapeTheirQuotes) {
  const QuotingCase cases[] = {
      // A space is text, not a control byte.
      {"a b.bak", "a b.bak"},
      {" ", " "},
      {"it's.bak", "it's.bak"},
      // A quote inside a quoted run closes the run, escaped, and opens it again.
      {"it's\r.bak", "'it'\\''s'$'\\r''.bak'"},
      {"\x1B'", "$'\\033'''\\'''"},
  };
  ExpectShown(true, cases);
  ExpectShown(false, cases);
}

// A terminal that honours C1 controls would run a sequence straight out of
// a name; in a single-byte character set each of 0x80-0x9F is one.
TEST(TerminalQuoting, C1BytesAreEscapedInASingleByteCharacterSet) {
  ExpectShown(false, {
                         {"\x80", "$'\\200'"},
                         {"\x9F", "$'\\237'"},
                         {"a\237b", "'a'$'\\237''b'"},
                         {"\xA0\xE9\xFF", "\xA0\xE9\xFF"},
                     });
}

// UTF-8 as a terminal reads it: a character ending the name is whole; what
// no UTF-8 decoder may take (a surrogate, an overlong form, a sequence cut
// short) is escaped byte by byte.
TEST(TerminalQuoting, OnlyValidUtf8IsTextAtAUtf8Terminal) {
  ExpectShown(true, {
                        {"\xC3\xA9", "\xC3\xA9"},
                        {"x.\xD0\xB6", "x.\xD0\xB6"},
                        {"\xE2\x82\xAC", "\xE2\x82\xAC"},
                        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                        {"\xED\x9F\xBF", "\xED\x9F\xBF"},
                        {"\xED\xA0\x80", "$'\\355\\240\\200'"},
                        {"\xED\xBF\xBF", "$'\\355\\277\\277'"},
                        {"\xE2\x82", "$'\\342\\202'"},
                        {"\xC0\xAF", "$'\\300\\257'"},
                    });
}

// Two names that differ by a character of no width look alike, and a
// bidi control reorders the line: both are escaped.
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
  ExpectShown(true, cases);
}
