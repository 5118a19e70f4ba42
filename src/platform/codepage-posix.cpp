// Code pages on POSIX: names are UTF-8 (or plain bytes), and every text goes
// out and comes in as it is.
#include "platform/platform.h"

bool NamesAreUtf8() { return true; }

std::string CompanionTextAsNames(std::string_view line, bool) { return std::string(line); }

std::string NameForRedirectedOutput(std::string_view name) { return std::string(name); }
