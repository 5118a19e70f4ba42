// The POSIX side of a descent's way down: the level EnterSubdirectory
// entered is added to it. Internal to platform-posix.
#pragma once

#include <sys/stat.h>

#include <string_view>

// Adds the directory just entered by `name`, as `st` shows it; takes
// `fd`, a descriptor of it (-1: none).
void NoteLevelEntered(std::string_view name, const struct stat& st, int fd);
