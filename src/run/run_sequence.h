// The whole life of one run, from loading the tables to the summary.
#pragma once

// Returns the process exit code: 0 when the run did all it announced (or
// showed the help screen, or was told N at the start), 1 for a wrong argument,
// 2 when an announced file stayed or a directory could not be entered.
int RunKelvo();
