#include "common/names.h"

static size_t NameStart(std::string_view path, PathStyle style) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1], style)) return i;
  return 0;
}

std::string_view PathPart(std::string_view path, PathStyle style) {
  return path.substr(0, NameStart(path, style));
}

std::string_view NamePart(std::string_view path, PathStyle style) {
  return path.substr(NameStart(path, style));
}

std::string_view ExtensionPart(std::string_view path, PathStyle style) {
  std::string_view name = NamePart(path, style);
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return name.substr(dot);
}

std::string_view BaseName(std::string_view path, PathStyle style) {
  std::string_view name = NamePart(path, style);
  return name.substr(0, name.size() - ExtensionPart(path, style).size());
}

std::string JoinPath(std::string_view dir, std::string_view name, PathStyle style) {
  std::string joined(dir);
  AppendToPath(joined, name, style);
  return joined;
}

void AppendToPath(std::string& dir, std::string_view name, PathStyle style) {
  char sep = JoinSeparator(style);
  if (dir.empty() || dir.back() != sep) dir += sep;
  dir += name;
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = AsciiUpperChar(c);
  return upper;
}
