// Entering a directory on Windows, shared by the file services and the
// descent. Internal to platform-win32.
#pragma once

// Makes `path` the current directory: through the A function, or, for a
// path past MAX_PATH, the wide one (in its "\\?\" form where needed).
// Allocates nothing: the break handler returns through here.
bool SetAnyCurrentDirectory(const char* path);
