// The help screen, naming the program file and its companion files as they
// are called beside it.
#pragma once

void ShowHelp();
