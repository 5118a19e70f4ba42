// The rule-file reader against a plain fold of each line, and the shape every
// stored rule line must have for the rule pass.
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "rules/rule_files.h"
#include "rules/tables.h"

namespace {

// TABs out, space runs to one space, no leading space, one closing space.
std::string Folded(std::string_view line) {
  std::string folded;
  for (char c : line) {
    if (c == '\t') continue;
    if (c == ' ' && (folded.empty() || folded.back() == ' ')) continue;
    folded += c;
  }
  if (folded.empty() || folded.back() != ' ') folded += ' ';
  return folded.substr(0, kRuleLength);
}

void RequireWellFormed(std::string_view rule) {
  FUZZ_REQUIRE(!rule.empty() && rule.size() <= kRuleLength);
  FUZZ_REQUIRE(rule.find_first_of("\t\r\x1A") == std::string_view::npos);
  FUZZ_REQUIRE(rule.find("  ") == std::string_view::npos);
  // Only a blank line may begin with a space; only the cut may take the
  // closing one away.
  FUZZ_REQUIRE(rule.front() != ' ' || rule == " ");
  FUZZ_REQUIRE(rule.back() == ' ' || rule.size() == kRuleLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes = BytesOf(data, size);
  std::string path = PutScratchFile("kelvo.EXT", bytes);
  const std::string text = CompanionText(bytes);
  for (PathStyle style : {PathStyle::Windows, PathStyle::Posix}) {
    RuleTable table;
    LoadRuleFileFrom(path, table, style);

    std::vector<std::string_view> lines =
        CompanionLines(text, kMaxRules, style == PathStyle::Posix);
    FUZZ_REQUIRE(table.count >= 1 && table.count <= kMaxRules);
    RuleTable expected;
    if (lines.empty()) {
      InstallBuiltInRules(expected);
    } else {
      expected.count = int(lines.size());
      for (size_t i = 0; i < lines.size(); ++i) StoreSlot(expected.rules[i], Folded(lines[i]));
    }
    FUZZ_REQUIRE(table.count == expected.count);
    for (int i = 0; i < table.count; ++i) {
      RequireWellFormed(SlotView(table.rules[i]));
      FUZZ_REQUIRE(SlotView(table.rules[i]) == SlotView(expected.rules[i]));
    }
  }
  return 0;
}
