// The descent: sweeps the current directory, then every plain subdirectory
// below it, depth first, keeping currentDirText equal to the directory swept.
#pragma once

// Ends in the directory it was called in, unless a move back up failed.
void DescendTree();
