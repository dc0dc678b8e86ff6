#include "component/split_path.h"

namespace tolvex {

PathParts SplitPath(std::u16string_view path, const PathStyle& style) {
  if (path.size() > 32767) throw PathOverflow();
  // A backslash is an ordinary character of a POSIX name.
  const auto sep = path.find_last_of(Separators(style));
  if (sep == std::u16string_view::npos) return {u"", std::u16string(path)};
  if (sep == 0 && path[0] == u'/' && style.empty_dir_is_current) {
    return {u"/", std::u16string(path.substr(1))};
  }
  return {std::u16string(path.substr(0, sep)), std::u16string(path.substr(sep + 1))};
}

}  // namespace tolvex
