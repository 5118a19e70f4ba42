// File-name helpers and AsciiUpper over 8-bit byte texts. Separators are
// "\" and ":" on Windows, "/" on POSIX; the helpers take the style so both
// can be tested on either build.
#pragma once

#include <string>
#include <string_view>

enum class PathStyle { Windows, Posix };

#if defined(KELVO_WIN32)
inline constexpr PathStyle kNativeStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kNativeStyle = PathStyle::Posix;
#endif

inline bool IsSeparator(char c, PathStyle style = kNativeStyle) {
  return style == PathStyle::Windows ? c == '\\' || c == ':' : c == '/';
}
// The character that joins a directory text and a name.
inline char JoinSeparator(PathStyle style = kNativeStyle) {
  return style == PathStyle::Windows ? '\\' : '/';
}

// Up to and including the last separator; empty if there is none.
std::string_view PathPart(std::string_view path, PathStyle style = kNativeStyle);
// After the last separator; the whole text if there is none.
std::string_view NamePart(std::string_view path, PathStyle style = kNativeStyle);
// From the last "." to the end, dot included, unless a separator follows it.
std::string_view ExtensionPart(std::string_view path, PathStyle style = kNativeStyle);
// NamePart less its extension.
std::string_view BaseName(std::string_view path, PathStyle style = kNativeStyle);

// dir + separator (left out when dir already ends in one) + name.
std::string JoinPath(std::string_view dir, std::string_view name, PathStyle style = kNativeStyle);
// The same join made in `dir` itself, so a path grown a name at a time costs
// only the name.
void AppendToPath(std::string& dir, std::string_view name, PathStyle style = kNativeStyle);

// A copy with a-z changed to A-Z and every other byte kept.
std::string AsciiUpper(std::string_view text);
inline char AsciiUpperChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
