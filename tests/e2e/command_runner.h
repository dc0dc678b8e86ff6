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

struct RunOptions {
  std::string cwd;            // the command's current directory; "" keeps the test's
  unsigned time_limit_s = 0;  // 0: none; else SIGALRM ends a command that hangs
};

CommandResult RunTolvex(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace tolvex::e2e
