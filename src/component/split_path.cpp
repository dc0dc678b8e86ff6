#include "component/split_path.h"

namespace tolvex {

PathParts SplitPath(std::u16string_view path) {
  if (path.size() > 32767) throw PathOverflow();
  const auto sep = path.find_last_of(u"/\\");
  if (sep == std::u16string_view::npos) return {u"", std::u16string(path)};
  return {std::u16string(path.substr(0, sep)), std::u16string(path.substr(sep + 1))};
}

}  // namespace tolvex
