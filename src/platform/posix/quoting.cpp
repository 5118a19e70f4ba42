#include "platform/posix/quoting.h"

#include "common/invisible.h"

namespace {

// The length of the character at the start of `rest` when the terminal
// shows it as text; 0 for a byte that must be escaped: a control (C0, DEL,
// C1 whether as U+0080-U+009F or as a byte of its own) or a byte that is no
// part of a valid character. A terminal that honours C1 controls would
// otherwise run a sequence straight out of a name. In UTF-8 a character
// that shows as nothing or reorders the line is escaped as well, so that
// names that differ look different and each stays in its place.
size_t TextLength(std::string_view rest, bool utf8) {
  unsigned char b = static_cast<unsigned char>(rest[0]);
  if (b < 0x20 || b == 0x7F) return 0;
  if (b < 0x80) return 1;
  if (!utf8) return b <= 0x9F ? 0 : 1;
  size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
  if (length == 0 || rest.size() < length) return 0;
  unsigned char second = static_cast<unsigned char>(rest[1]);
  unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
  unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
  if (second < low || second > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if ((static_cast<unsigned char>(rest[i]) & 0xC0) != 0x80) return 0;
  if (b == 0xC2 && second <= 0x9F) return 0;
  char32_t code = b & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) code = code << 6 | (static_cast<unsigned char>(rest[i]) & 0x3F);
  return IsInvisibleCharacter(code) ? 0 : length;
}

void AppendEscaped(std::string& out, unsigned char b) {
  static constexpr char kLetters[] = "abtnvfr";
  if (b >= 0x07 && b <= 0x0D) {
    out += '\\';
    out += kLetters[b - 0x07];
    return;
  }
  out += '\\';
  out += static_cast<char>('0' + (b >> 6));
  out += static_cast<char>('0' + ((b >> 3) & 7));
  out += static_cast<char>('0' + (b & 7));
}

}  // namespace

std::string QuotedForTerminal(std::string_view name, bool utf8) {
  bool plain = true;
  for (size_t i = 0; i < name.size() && plain;) {
    size_t length = TextLength(name.substr(i), utf8);
    plain = length > 0;
    i += length;
  }
  if (plain) return std::string(name);
  std::string out;
  for (size_t i = 0; i < name.size();) {
    size_t length = TextLength(name.substr(i), utf8);
    if (length == 0) {
      out += "$'";
      for (; i < name.size() && TextLength(name.substr(i), utf8) == 0; ++i)
        AppendEscaped(out, static_cast<unsigned char>(name[i]));
      out += '\'';
      continue;
    }
    out += '\'';
    for (; i < name.size() && (length = TextLength(name.substr(i), utf8)) > 0; i += length)
      out += name[i] == '\'' ? std::string_view("'\\''") : name.substr(i, length);
    out += '\'';
  }
  return out;
}
