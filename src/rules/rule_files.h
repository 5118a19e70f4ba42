// The two companion files beside the program: the mask file (base name +
// ".TAB") and the rule file (base name + ".EXT"). Lines end at CR (an LF
// right after it belongs to the line end); Ctrl-Z or the end of the file ends
// the data. Neither file is required and nothing is reported about them.
// Each line, once read and cut, is brought into the names' code page
// (CompanionTextAsNames).
#pragma once

#include <string>
#include <string_view>

#include "rules/tables.h"

// The companion file with `extension` beside the program file at `programPath`.
std::string CompanionPath(std::string_view programPath, std::string_view extension);

// Up to 30 masks of up to 12 characters, stored exactly as read; the list is
// empty when the file cannot be opened or a read fails inside a line.
void LoadMaskFile(MaskList& list);
void LoadMaskFileFrom(std::string_view path, MaskList& list);

// Up to 30 rule lines: TABs removed, leading blanks dropped, runs of spaces
// folded to one, a closing space added, cut to 80 characters. The built-in
// rules come in when the file cannot be opened, yields no line, or a read
// fails inside a line.
void LoadRuleFile(RuleTable& table);
void LoadRuleFileFrom(std::string_view path, RuleTable& table);
