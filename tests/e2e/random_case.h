// Seeded random cases for the model: a small tree, a mask file and a rule
// file; run, checked against the model, and shrunk when they fail.
#pragma once

#include <cstdint>
#include <string>

#include "model.h"

namespace e2e {

// ASCII letters in upper case, other bytes as they are.
std::string FoldCase(std::string_view s);

// A case from `seed`. Under Wine the tree holds only what a Windows volume
// can: no links, fifos, names ending in a dot or a space, or bytes that are
// not UTF-8.
model::Case RandomCase(uint32_t seed);

// Runs kelvo /S /N /Y on the case in a fresh tree; empty when the files
// removed, the bytes of the files left, the file messages and the total are
// what the model says, else what differs.
std::string CheckCase(const model::Case& c);

// The smallest case it can reach by dropping entries, directories, mask and
// rule lines one at a time while CheckCase still fails.
model::Case Shrink(model::Case c, int maxRuns = 1000);

// The case readably: its tree in ScopedTree notation and its companion files.
std::string DescribeCase(const model::Case& c);

}  // namespace e2e
