// The sweep of the current directory: the mask pass, then the rule pass.
// Every deletion goes through RemoveOne, which announces the file, asks when
// askEachFile is set, deletes it and adds its size, as read just before the
// deletion, to removedBytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Cleans the current directory. One whose listing cannot be read whole is
// not cleaned at all: it is reported as a directory that cannot be entered,
// and the run falls short.
void SweepDirectory();

// Reports a directory that cannot be entered or read whole, by its path, and
// makes the run fall short.
void CannotChangeTo(std::string_view path);

// `name` is relative to the current directory.
void RemoveOne(std::string_view name);

// Waits for every deletion still in flight and tells what each came to: a
// failure is written, the bytes of a deletion are added. Called before the
// run sums up.
void FinishRemovals();

// Cuts the first word off `line`: the text before the first space goes to
// `word`, the text after it stays in `line`; with no space both become empty.
// Both stay views of the line's text.
void SplitFirstWord(std::string_view& line, std::string_view& word);
