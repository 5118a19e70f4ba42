// Code pages on POSIX: names are UTF-8 (or plain bytes), and every text goes
// out and comes in as it is; only a companion file saved as UTF-16 is turned
// into UTF-8.
#include "platform/platform.h"

bool NamesAreUtf8() { return true; }

std::string CompanionTextAsNames(std::string_view line, bool) { return std::string(line); }

std::string Utf16AsNames(std::u16string_view text) {
  std::string utf8;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    bool high = code >= 0xD800 && code <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (code >= 0xD800 && code <= 0xDFFF)
      code = 0xFFFD;
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
      continue;
    }
    int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    utf8 += static_cast<char>(((0xFF << (7 - tail)) & 0xFF) | (code >> (6 * tail)));
    while (tail-- > 0) utf8 += static_cast<char>(0x80 | ((code >> (6 * tail)) & 0x3F));
  }
  return utf8;
}

std::string NameForRedirectedOutput(std::string_view name) { return std::string(name); }
