// Names shown at a terminal so that each reads back as exactly its bytes.
// Internal to platform-posix.
#pragma once

#include <string>
#include <string_view>

// `name` as it is when every byte of it shows as text at a terminal that
// reads UTF-8 (`utf8`) or a single-byte character set; otherwise quoted as
// a shell reads it back: text runs in '...', the rest as $'\r' or $'\302'.
// In UTF-8 a character that shows as nothing or reorders the text (see
// IsInvisibleCharacter) is not text: U+200B comes back as $'\342\200\213'.
std::string QuotedForTerminal(std::string_view name, bool utf8);
