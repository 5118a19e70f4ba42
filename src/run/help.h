// The help screen, naming the program file and its companion files as they
// are called beside it, and on Linux the configuration directories searched
// after it.
#pragma once

void ShowHelp();
