// Runs the tolvex command as a user would and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace tolvex::e2e {

struct CommandResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // standard output
  std::string err;  // standard error
};

CommandResult RunTolvex(const std::vector<std::string>& args);

}  // namespace tolvex::e2e
