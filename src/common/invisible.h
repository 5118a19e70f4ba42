// Characters a terminal draws as nothing, or that reorder the text around
// them: two names that differ only by them look the same, and one of them
// may show as another name altogether ("thesis<U+202E>fdp.bak").
#pragma once

// True for a character of no width that is no mark on its base (general
// categories Cf, Zl and Zp, and U+034F), which takes in every bidi control
// and the zero-width spaces and joiners.
bool IsInvisibleCharacter(char32_t code);
