// Broken-down times, thread-safe on both platforms (gmtime_r and
// localtime_r on POSIX; Windows has the _s forms with their arguments the
// other way round).
#pragma once

#include <ctime>

namespace tolvex::server {

inline std::tm UtcTime(std::time_t t) {
  std::tm out{};
#ifdef _WIN32
  gmtime_s(&out, &t);
#else
  gmtime_r(&t, &out);
#endif
  return out;
}

inline std::tm LocalTime(std::time_t t) {
  std::tm out{};
#ifdef _WIN32
  localtime_s(&out, &t);
#else
  localtime_r(&t, &out);
#endif
  return out;
}

}  // namespace tolvex::server
