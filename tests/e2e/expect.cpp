#include "expect.h"

#include <algorithm>
#include <sstream>

namespace e2e {
namespace {

constexpr std::string_view kFreedLabel = "Освобождено на диске    : ";
constexpr std::string_view kBytesTail = " байт";
constexpr std::string_view kFreedMarker = "<freed>";

// One UTF-8 sequence of up to two bytes starting at utf8[i]; i is moved past it.
unsigned NextCodePoint(std::string_view utf8, size_t& i) {
  unsigned char c = static_cast<unsigned char>(utf8[i++]);
  if (c < 0x80) return c;
  if ((c & 0xE0) == 0xC0 && i < utf8.size())
    return ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i++]) & 0x3Fu);
  return 0xFFFF;
}

// The letter a code page 866 byte above ASCII stands for; 0 for the bytes
// no message uses (box drawing and the like).
unsigned LetterOf(unsigned char b) {
  if (b >= 0x80 && b <= 0xAF) return b - 0x80 + 0x410;  // А-Я, а-п
  if (b >= 0xE0 && b <= 0xEF) return b - 0xE0 + 0x440;  // р-я
  if (b == 0xF0) return 0x401;                          // Ё
  if (b == 0xF1) return 0x451;                          // ё
  return 0;
}

void AppendUtf8(std::string& out, unsigned code) {
  out += static_cast<char>(0xC0 | (code >> 6));
  out += static_cast<char>(0x80 | (code & 0x3F));
}

std::vector<std::string_view> LinesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
  return lines;
}

}  // namespace

std::string Cp866(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned code = NextCodePoint(utf8, i);
    int byte = code < 0x80 ? static_cast<int>(code) : -1;
    for (int b = 0x80; b <= 0xFF && byte < 0; ++b)
      if (LetterOf(static_cast<unsigned char>(b)) == code) byte = b;
    if (byte < 0)
      ADD_FAILURE() << "no code page 866 byte for U+" << std::hex << code << " in " << utf8;
    else
      out += static_cast<char>(byte);
  }
  return out;
}

std::string Readable(std::string_view cp866) {
  std::string out;
  for (char ch : cp866) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (unsigned letter = LetterOf(b)) {
      AppendUtf8(out, letter);
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\n' || (b >= 0x20 && b < 0x7F)) {
      out += ch;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

std::string Shown(const ScopedTree& tree, std::string_view name) {
  if (!UnderWine()) return tree.PathOf(name);
  // Wine shows the Unix root as drive Z:.
  std::string shown = "Z:" + tree.path() + "/" + std::string(name);
  std::replace(shown.begin(), shown.end(), '/', '\\');
  return shown;
}

std::string Redirected(std::string_view utf8) {
  if (!UnderWine()) return std::string(utf8);
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c >= 0xC0) {
      bool latin1 = (c == 0xC2 || c == 0xC3) && i + 1 < utf8.size();
      unsigned code = latin1 ? ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3Fu) : 0;
      out += code >= 0xA0 ? static_cast<char>(code) : '?';
    }
  }
  return out;
}

Transcript& Transcript::Line(std::string_view utf8) { return LineWithName(utf8, ""); }

Transcript& Transcript::LineWithName(std::string_view utf8, std::string_view name) {
  bytes_ += Cp866(utf8) + std::string(name) + "\r\n";
  text_ += std::string(utf8) + std::string(name) + "\n";
  return *this;
}

Transcript& Transcript::Banner() {
  return Line("Утилита удаления  файлов получаемых при компиляции.")
      .Line("Для помощи используйте опцию /?.")
      .Line("   Версия 1.6.2(32)  (c) kelvo authors");
}

Transcript& Transcript::StartQuestion(char answer) {
  return Line("Будет удаление файлов, Вы уверены ? Y/N: " + std::string(1, answer));
}

Transcript& Transcript::Offer(const ScopedTree& tree, std::string_view name, char answer) {
  LineWithName("Удаляется файл:  ", Shown(tree, name));
  if (answer != 0) Line("Подтверждаете Y/N:  " + std::string(1, answer));
  return *this;
}

Transcript& Transcript::CannotRemove(const ScopedTree& tree, std::string_view name) {
  return LineWithName("Не могу удалить файл: ", Shown(tree, name));
}

Transcript& Transcript::Summary(int64_t removedBytes) {
  std::string removed = std::to_string(removedBytes);
  if (removed.size() < 10) removed.insert(0, 10 - removed.size(), ' ');
  Line(std::string(48, '_'));
  Line("Размер удаленных файлов : " + removed + " байт");
  return Line(std::string(kFreedLabel) + std::string(kFreedMarker) + std::string(kBytesTail));
}

Transcript Opening(char startAnswer) {
  Transcript opening;
  opening.Banner().StartQuestion(startAnswer);
  return opening;
}

std::string MaskFreed(std::string_view output, bool utf8) {
  std::string label = utf8 ? std::string(kFreedLabel) : Cp866(kFreedLabel);
  std::string tail = utf8 ? std::string(kBytesTail) + "\n" : Cp866(kBytesTail) + "\r\n";
  size_t start = output.rfind(label);
  if (start == std::string_view::npos) return std::string(output);
  size_t field = start + label.size();
  size_t end = output.find(tail, field);
  if (end == std::string_view::npos) return std::string(output);
  std::string_view number = output.substr(field, end - field);
  size_t digits = number.find_first_not_of(' ');
  if (number.size() < 10 || digits == std::string_view::npos) return std::string(output);
  std::string_view value = number.substr(digits);
  if (value.starts_with('-')) value.remove_prefix(1);
  bool integer = !value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos;
  bool padded = number.size() == 10 || digits == 0;
  if (!integer || !padded) return std::string(output);
  return std::string(output.substr(0, field)) + std::string(kFreedMarker) +
         std::string(output.substr(end));
}

::testing::AssertionResult SameOutput(const RunResult& run, const Transcript& expected, bool utf8) {
  std::string actual = MaskFreed(run.out, utf8);
  const std::string& wanted = utf8 ? expected.text() : expected.bytes();
  if (actual == wanted) return ::testing::AssertionSuccess();
  if (utf8) {
    return ::testing::AssertionFailure()
           << "--- expected ---\n"
           << wanted << "\n--- actual (exit " << run.exitCode << ") ---\n"
           << actual;
  }
  std::vector<std::string_view> got = LinesOf(actual);
  std::vector<std::string_view> want = LinesOf(expected.bytes());
  size_t line = 0;
  while (line < got.size() && line < want.size() && got[line] == want[line]) ++line;
  std::ostringstream message;
  message << "output differs from line " << line + 1 << " on";
  if (line < want.size()) message << "\n  expected: " << Readable(want[line]);
  if (line < got.size()) message << "\n  actual:   " << Readable(got[line]);
  message << "\n--- expected ---\n"
          << Readable(expected.bytes()) << "\n--- actual (exit " << run.exitCode << ") ---\n"
          << Readable(actual);
  if (!run.err.empty()) message << "\n--- standard error ---\n" << run.err;
  return ::testing::AssertionFailure() << message.str();
}

}  // namespace e2e
