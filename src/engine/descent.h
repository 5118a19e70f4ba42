// The descent: sweeps the current directory, then every plain subdirectory
// below it, depth first; messages name each directory by PlaceText.
#pragma once

// Ends in the directory it was called in, unless that can no longer be
// proven to be where it was: then it stands in no known directory.
void DescendTree();
