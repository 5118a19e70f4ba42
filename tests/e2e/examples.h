// The sample companion files of examples/, as the tests read and lay them.
#pragma once

#include <string>

#include "runner.h"

namespace e2e {

// The bytes of examples/`name`; a file that cannot be read fails the test.
std::string ExampleBytes(const std::string& name);

// Options for a run with both sample files beside the program, asking
// nothing (/N /Y).
RunOptions WithExamples();

}  // namespace e2e
