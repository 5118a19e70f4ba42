// The descent: sweeps the current directory, then every plain subdirectory
// below it, depth first, keeping currentDirText equal to the directory swept.
#pragma once

// Ends in the directory it was called in, unless someone removed it meanwhile.
void DescendTree();
