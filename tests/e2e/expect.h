// Expected output: kelvo writes its messages as code page 866 bytes with
// CR LF line ends (natively in a UTF-8 locale, UTF-8 text with LF line ends);
// tests write them as readable UTF-8 and compare bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "runner.h"
#include "tree.h"

namespace e2e {

// UTF-8 text as code page 866 bytes. Only ASCII, Cyrillic А-я, Ё and ё have
// a place there; any other character fails the test that asked for it.
std::string Cp866(std::string_view utf8);
// Code page 866 bytes as readable UTF-8; bytes that are no Cyrillic letter
// (and control bytes other than LF) are shown as \xNN, CR as \r.
std::string Readable(std::string_view cp866);

// The text kelvo shows for a name in the cleaning directory: the directory
// as the build under test sees it, its separator, the name.
std::string Shown(const ScopedTree& tree, std::string_view name);

// A UTF-8 name as the build under test writes it to a file: natively as it
// is; under Wine in code page 1252, where only Latin-1 letters (U+00A0 to
// U+00FF) are taken as they are and every other character becomes "?".
std::string Redirected(std::string_view utf8);

// Builds the output expected from one run, piece by piece.
class Transcript {
 public:
  // A line of message text, given in UTF-8.
  Transcript& Line(std::string_view utf8);
  // Message text, then a name written byte for byte, then the line end.
  Transcript& LineWithName(std::string_view utf8, std::string_view name);

  Transcript& Banner();
  // The start question and the answer echoed after it.
  Transcript& StartQuestion(char answer);
  // A file announced and, unless `answer` is 0 (no question asked), its
  // question with the answer echoed.
  Transcript& Offer(const ScopedTree& tree, std::string_view name, char answer);
  Transcript& CannotRemove(const ScopedTree& tree, std::string_view name);
  // The three summary lines; the freed-space number is left open (see
  // MaskFreed).
  Transcript& Summary(int64_t removedBytes);

  const std::string& bytes() const { return bytes_; }
  // The same run written as UTF-8 text with LF line ends.
  const std::string& text() const { return text_; }

 private:
  std::string bytes_;
  std::string text_;
};

// What every run writes first: the banner, and the start question with the
// answer echoed.
Transcript Opening(char startAnswer);

// Replaces the number in the summary's freed-space line, which depends on
// whatever else uses the disk, with a marker that Summary() writes too. The
// number is left alone unless it is an integer set right in at least 10
// characters, so a malformed line still shows up as a difference.
std::string MaskFreed(std::string_view output, bool utf8 = false);

// Output bytes equal to the transcript (its UTF-8 text when `utf8`), the
// freed number aside; on a difference both sides are shown readably with the
// first differing line.
::testing::AssertionResult SameOutput(const RunResult& run, const Transcript& expected,
                                      bool utf8 = false);

}  // namespace e2e
