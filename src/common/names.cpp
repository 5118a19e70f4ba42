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

// Where the name begins and where its extension does (the path's size
// without one): one scan back from the end.
struct NameSplit {
  size_t name = 0;
  size_t extension = 0;
};

static NameSplit SplitName(std::string_view path, PathStyle style) {
  NameSplit split{0, path.size()};
  for (size_t i = path.size(); i > 0; --i) {
    char c = path[i - 1];
    if (IsSeparator(c, style)) {
      split.name = i;
      break;
    }
    if (c == '.' && split.extension == path.size()) split.extension = i - 1;
  }
  return split;
}

std::string_view ExtensionPart(std::string_view path, PathStyle style) {
  return path.substr(SplitName(path, style).extension);
}

std::string_view BaseName(std::string_view path, PathStyle style) {
  NameSplit split = SplitName(path, style);
  return path.substr(split.name, split.extension - split.name);
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
