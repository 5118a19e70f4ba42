// The whole life of one run, from loading the tables to the summary.
#pragma once

// Returns the process exit code.
int RunKelvo();
