#include "rules/tables.h"

MaskList maskList;
RuleTable ruleTable;

void InstallBuiltInRules(RuleTable& table) {
  // Order matters: .FTN makes .FOR files, which must go before .FOR is a
  // source, and .BAK .BAK removes every backup.
  static constexpr std::string_view kBuiltIn[] = {
      ".PAS .EXE .TPU .TPP .TPW ",
      ".FTN .FOR .EXE .OBJ ",
      ".FOR .EXE .OBJ ",
      ".BAK .BAK ",
  };
  for (int i = 0; i < 4; ++i) StoreSlot(table.rules[i], kBuiltIn[i]);
  table.count = 4;
}
