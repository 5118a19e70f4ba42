// The interrupt (Ctrl-C, Ctrl-Break, closing the console; on POSIX SIGINT,
// SIGQUIT, SIGHUP and SIGTERM, each unless the caller had it ignored): back
// to the directory current at start, the stop message, and the system ends
// the process. No summary.
#pragma once

void InstallBreakHandler();
