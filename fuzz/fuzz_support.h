// What the fuzz targets share: a check that turns a broken property into a
// crash libFuzzer keeps the input of, a private scratch directory, and the
// line splitting both companion-file readers promise.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_REQUIRE(condition) \
  ((condition) ? (void)0 : BrokenProperty(#condition, __FILE__, __LINE__))

[[noreturn]] inline void BrokenProperty(const char* what, const char* file, int line) {
  fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
  abort();
}

inline std::string_view BytesOf(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A fresh directory below $TMPDIR (or /tmp), made once per process. The
// targets write and enter only what lies below it; scripts/fuzz.sh points
// TMPDIR at a directory it removes afterwards.
inline const std::string& ScratchRoot() {
  static const std::string root = [] {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    pattern += "/kelvo-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      perror("mkdtemp");
      abort();
    }
    char* real = realpath(pattern.c_str(), nullptr);
    FUZZ_REQUIRE(real != nullptr);
    std::string path(real);
    free(real);
    return path;
  }();
  return root;
}

// Replaces the file `name` in the scratch directory with exactly `bytes`;
// returns its path. A new file each time: rewriting one in place makes ext4
// flush it to disk on every close.
inline std::string PutScratchFile(const char* name, std::string_view bytes) {
  std::string path = ScratchRoot() + "/" + name;
  unlink(path.c_str());
  FILE* file = fopen(path.c_str(), "wbx");
  FUZZ_REQUIRE(file != nullptr);
  FUZZ_REQUIRE(fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  FUZZ_REQUIRE(fclose(file) == 0);
  return path;
}

// The text a companion file holds: the bytes after a UTF-8 byte-order mark;
// after a UTF-16 one its characters as UTF-8, a lone surrogate as U+FFFD and
// an odd last byte dropped; without a mark the bytes as they are.
inline std::string CompanionText(std::string_view data) {
  if (data.starts_with("\xEF\xBB\xBF")) return std::string(data.substr(3));
  bool little = data.starts_with("\xFF\xFE");
  if (!little && !data.starts_with("\xFE\xFF")) return std::string(data);
  std::vector<char32_t> codes;
  for (size_t i = 2; i + 1 < data.size(); i += 2) {
    unsigned char first = data[i], second = data[i + 1];
    char32_t unit = little ? second << 8 | first : first << 8 | second;
    char32_t* last = codes.empty() ? nullptr : &codes.back();
    if (unit >= 0xDC00 && unit <= 0xDFFF && last && *last >= 0xD800 && *last <= 0xDBFF)
      *last = 0x10000 + ((*last - 0xD800) << 10) + (unit - 0xDC00);
    else
      codes.push_back(unit);
  }
  std::string text;
  for (char32_t code : codes) {
    if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
    int length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    text += char(lead[length] | code >> (6 * (length - 1)));
    for (int k = length - 2; k >= 0; --k) text += char(0x80 | (code >> (6 * k) & 0x3F));
  }
  return text;
}

// The lines of a companion file, at most `limit`: the data ends at the first
// Ctrl-Z, a line ends at a CR, and an LF right after that CR belongs to the
// line end; with `lfEnds` (the POSIX build's reading) an LF alone ends a line
// too. A last line without a line end still counts.
inline std::vector<std::string_view> CompanionLines(std::string_view data, size_t limit,
                                                    bool lfEnds) {
  data = data.substr(0, data.find('\x1A'));
  std::vector<std::string_view> lines;
  while (!data.empty() && lines.size() < limit) {
    size_t end = data.find_first_of(lfEnds ? "\r\n" : "\r");
    lines.push_back(data.substr(0, end));
    if (end == std::string_view::npos) break;
    bool cr = data[end] == '\r';
    data.remove_prefix(end + 1);
    if (cr && !data.empty() && data.front() == '\n') data.remove_prefix(1);
  }
  return lines;
}
