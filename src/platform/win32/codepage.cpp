// Code pages of names on Windows. Under the manifest's UTF-8 process code
// page the A functions give and take UTF-8; what goes to a file or pipe and
// what comes from a companion file that is no UTF-8 text stay in the
// system's ANSI code page, so both read as they did before. Where the
// manifest is ignored everything passes as it is. A companion file saved as
// UTF-16 comes in the code page of the names, whichever that is.
#include <windows.h>

#include "platform/platform.h"

namespace {

// The system's ANSI code page where names come in UTF-8 and it is another
// one; 0 where no text need be converted.
UINT ConvertedCodePage() {
  static const UINT codePage = [] {
    if (!NamesAreUtf8()) return 0u;
    // GetACP() says UTF-8 now; the system locale still knows its own. Wine
    // takes no LOCALE_NAME_SYSTEM_DEFAULT in GetLocaleInfoEx, every system
    // takes LOCALE_SYSTEM_DEFAULT here.
    DWORD system = 0;
    if (!GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                        reinterpret_cast<LPWSTR>(&system), sizeof system / sizeof(WCHAR)))
      return 0u;
    return system == CP_UTF8 ? 0u : static_cast<UINT>(system);
  }();
  return codePage;
}

std::wstring Widen(UINT codePage, DWORD flags, std::string_view text) {
  int length = static_cast<int>(text.size());
  int n = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), length, wide.data(), n);
  return wide;
}

std::string Narrow(UINT codePage, DWORD flags, const char* absent, const std::wstring& wide) {
  int length = static_cast<int>(wide.size());
  int n = WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, absent, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), length, text.data(), n, absent, nullptr);
  return text;
}

// Length of `text` less a UTF-8 sequence broken off at its end.
size_t WithoutBrokenEnd(std::string_view text) {
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;
    size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return need > back ? text.size() - back : text.size();
  }
  return text.size();
}

bool IsUtf8Text(std::string_view text) {
  return text.empty() || !Widen(CP_UTF8, MB_ERR_INVALID_CHARS, text).empty();
}

}  // namespace

bool NamesAreUtf8() {
  static const bool utf8 = GetACP() == CP_UTF8;
  return utf8;
}

std::string CompanionTextAsNames(std::string_view line, bool cut) {
  UINT codePage = ConvertedCodePage();
  if (codePage == 0 || IsUtf8Text(cut ? line.substr(0, WithoutBrokenEnd(line)) : line))
    return std::string(line);
  std::string converted = Narrow(CP_UTF8, 0, nullptr, Widen(codePage, 0, line));
  return converted.empty() ? std::string(line) : converted;
}

std::string Utf16AsNames(std::u16string_view text) {
  std::wstring wide(text.begin(), text.end());
  if (NamesAreUtf8()) return Narrow(CP_UTF8, 0, nullptr, wide);
  return Narrow(CP_ACP, WC_NO_BEST_FIT_CHARS, "|", wide);
}

std::string NameForRedirectedOutput(std::string_view name) {
  UINT codePage = ConvertedCodePage();
  if (codePage == 0 || name.empty()) return std::string(name);
  // Bytes that are no UTF-8 text become U+FFFD, and so "?" too.
  std::string converted = Narrow(codePage, WC_NO_BEST_FIT_CHARS, "?", Widen(CP_UTF8, 0, name));
  return converted.empty() ? std::string(name) : converted;
}
