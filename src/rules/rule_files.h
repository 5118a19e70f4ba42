// The two companion files: the mask file (base name + ".TAB") and the rule
// file (base name + ".EXT"), each looked for on its own, beside the program
// first, then in the configuration directories; the first that opens is read.
// Lines end at CR (an LF right after it belongs to the line end), in the
// POSIX style at an LF alone too; Ctrl-Z or the end of the file ends the
// data. Neither file is required and nothing is reported about them.
// A UTF-8 byte-order mark at the start is passed over; after a UTF-16 one
// (either byte order) the text is converted to the names' code page first,
// and lines, Ctrl-Z and lengths are those of the converted text. Each line,
// once read and cut, is brought into the names' code page
// (CompanionTextAsNames).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/names.h"
#include "platform/platform.h"
#include "rules/tables.h"

// The companion file with `extension` beside the program file at `programPath`.
std::string CompanionPath(std::string_view programPath, std::string_view extension);
// Every place the companion file with `extension` is looked for, in order:
// beside the program, then in "kelvo" below each of `configDirs`.
std::vector<std::string> CompanionPaths(std::string_view programPath, std::string_view extension,
                                        const std::vector<std::string>& configDirs);

// Up to 30 masks of up to 12 characters, stored exactly as read; the list is
// empty when the file cannot be opened or a read fails inside a line.
void LoadMaskFile(MaskList& list);
void LoadMaskFileFrom(std::string_view path, MaskList& list, PathStyle style = kNativeStyle);

// Up to 30 rule lines: TABs removed, leading blanks dropped, runs of spaces
// folded to one, a closing space added, cut to 80 characters. The built-in
// rules come in when the file cannot be opened, yields no line, or a read
// fails inside a line.
void LoadRuleFile(RuleTable& table);
// Reads as ReadBytes does; a test hands in one that fails where it chooses.
using ByteSource = bool (*)(ReadFileState* file, char* buffer, size_t capacity, size_t& got);
void LoadRuleFileFrom(std::string_view path, RuleTable& table, PathStyle style = kNativeStyle,
                      ByteSource read = ReadBytes);
