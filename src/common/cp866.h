// Message texts are written in the source as UTF-8 literals and turned into
// code page 866 bytes while compiling; a character the code page lacks stops
// the build.
#pragma once

#include <cstddef>
#include <string_view>

void CharacterNotInCodePage866();  // never defined: reaching it fails the build

consteval unsigned char Cp866FromUnicode(unsigned code) {
  if (code < 0x80) return static_cast<unsigned char>(code);
  if (code >= 0x410 && code <= 0x43F) return static_cast<unsigned char>(code - 0x410 + 0x80);
  if (code >= 0x440 && code <= 0x44F) return static_cast<unsigned char>(code - 0x440 + 0xE0);
  if (code == 0x401) return 0xF0;  // Ё
  if (code == 0x451) return 0xF1;  // ё
  CharacterNotInCodePage866();
  return 0;
}

template <size_t N>
struct Cp866Text {
  char bytes[N] = {};
  size_t length = 0;

  consteval Cp866Text(const char8_t (&utf8)[N]) {
    size_t i = 0;
    while (i + 1 < N) {
      unsigned c = utf8[i];
      unsigned code;
      if (c < 0x80) {
        code = c;
        i += 1;
      } else if ((c & 0xE0) == 0xC0) {
        code = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
        i += 2;
      } else {
        CharacterNotInCodePage866();
        code = 0;
      }
      bytes[length++] = static_cast<char>(Cp866FromUnicode(code));
    }
  }

  constexpr std::string_view view() const { return {bytes, length}; }
  constexpr operator std::string_view() const { return view(); }
};

// Writes the UTF-8 form of a code page 866 byte of message text into `out`
// (room for two bytes) and returns its length. Only ASCII and the letters
// messages hold have a form; any other byte comes out as "?".
inline size_t Utf8FromCp866(unsigned char b, char* out) {
  unsigned code = b < 0x80                 ? b
                  : b <= 0xAF              ? b - 0x80 + 0x410
                  : b >= 0xE0 && b <= 0xEF ? b - 0xE0 + 0x440
                  : b == 0xF0              ? 0x401u
                  : b == 0xF1              ? 0x451u
                                           : '?';
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  out[0] = static_cast<char>(0xC0 | (code >> 6));
  out[1] = static_cast<char>(0x80 | (code & 0x3F));
  return 2;
}
