// Runs the command-line tool as a user would, through the shell.
#pragma once
#include <array>
#include <cstdio>
#include <string>

#include <sys/wait.h>

namespace korvane::testing {

struct ToolRun {
  int Status = -1;
  std::string Output;  // stdout and stderr together
};

// asNobody runs the tool as an ordinary user (the tests may run as root, who reads anything);
// in runs it in that folder.
inline ToolRun RunTool(const std::string& args, bool asNobody = false, const std::string& in = ".") {
  ToolRun r;
  const std::string command = "{ cd '" + in + "' && " +
                              (asNobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") + "'" +
                              KORVANE_TOOL + "' " + args + "; } 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) r.Output += buffer.data();
  const int status = pclose(pipe);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace korvane::testing
