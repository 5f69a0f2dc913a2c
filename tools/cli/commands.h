// The subcommands of the command-line tool. Each takes the arguments after its own name
// and returns the process exit code.
#pragma once

namespace korvane::cli {

struct Command {
  const char* name;
  const char* synopsis;  // one line for the tool's --help
  int (*run)(int argc, char** argv);
};

int RunListCommand(int argc, char** argv);
int RunTestCommand(int argc, char** argv);
int RunExtractCommand(int argc, char** argv);
int RunPackCommand(int argc, char** argv);
int RunPlayCommand(int argc, char** argv);
int RunReleaseCommand(int argc, char** argv);
int RunPreviewCommand(int argc, char** argv);

}  // namespace korvane::cli
