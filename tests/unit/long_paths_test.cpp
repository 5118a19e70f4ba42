// The Windows "\\?\" form of a path and the form messages show, as the wide
// functions get them: on this build too, since Wine takes long paths
// without the prefix and never reaches these.
#include "platform/win32/long_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const wchar_t* given;
  const wchar_t* made;
};

// The form written into a buffer of `room` characters first filled with
// 'X', and what follows it: a NUL left out shows as the filler.
std::wstring LongForm(const std::wstring& full, size_t room = 64) {
  std::wstring out(room, L'X');
  size_t n = long_paths::WriteLongForm(full.data(), full.size(), out.data(), room);
  if (n == 0) return L"<none>";
  return out.substr(0, n) + (out[n] == L'\0' ? L"" : L"<no NUL>");
}

std::wstring Shown(std::wstring path) {
  path.push_back(L'\0');
  path.append(L"XXXXXXXX");
  size_t n = long_paths::ToShownForm(path.data(), path.size() - 9);
  return path.substr(0, n) + (path[n] == L'\0' ? L"" : L"<no NUL>");
}

TEST(LongPaths, FullPathsOfDrivesAndSharesTakeThePrefixWithTheirNul) {
  const Case cases[] = {
      {L"C:\\a\\b.", L"\\\\?\\C:\\a\\b."},
      {L"z:\\", L"\\\\?\\z:\\"},
      {L"\\\\server\\share\\x ", L"\\\\?\\UNC\\server\\share\\x "},
      {L"\\\\?\\C:\\a", L"\\\\?\\C:\\a"},
      {L"\\\\?\\UNC\\s\\x", L"\\\\?\\UNC\\s\\x"},
      // Nothing the prefix may stand before.
      {L"a\\b", L"<none>"},
      {L"\\a", L"<none>"},
      {L"C:a", L"<none>"},
      {L"1:\\a", L"<none>"},
      {L"\\\\.\\pipe\\x", L"<none>"},
      {L"\\\\\\x", L"<none>"},
      {L"", L"<none>"},
  };
  for (const auto& c : cases) EXPECT_EQ(LongForm(c.given), c.made) << c.given;
  // Exactly the room for the form and its NUL, and one less.
  EXPECT_EQ(LongForm(L"C:\\ab", 10), L"\\\\?\\C:\\ab");
  EXPECT_EQ(LongForm(L"C:\\ab", 9), L"<none>");
  // The same on the code page's bytes.
  std::string bytes(16, 'X');
  ASSERT_EQ(long_paths::WriteLongForm("\\\\s\\x", 5, bytes.data(), bytes.size()), 11u);
  EXPECT_EQ(bytes.substr(0, 12), std::string("\\\\?\\UNC\\s\\x", 11) + '\0');
}

TEST(LongPaths, ShownFormIsThePathWithoutThePrefix) {
  const Case cases[] = {
      {L"\\\\?\\C:\\deep\\x", L"C:\\deep\\x"},
      {L"\\\\?\\UNC\\server\\share\\x", L"\\\\server\\share\\x"},
      {L"C:\\deep", L"C:\\deep"},
      {L"\\\\server\\share", L"\\\\server\\share"},
      // Prefixed forms of no drive or share keep the prefix that names them.
      {L"\\\\?\\Volume{1}\\x", L"\\\\?\\Volume{1}\\x"},
      {L"\\\\?\\", L"\\\\?\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(Shown(c.given), c.made) << c.given;
}

}  // namespace
