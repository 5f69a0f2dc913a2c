// korvane: the command-line tool over the installer's core (archives and music).
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/cli/commands.h"
#include "tools/cli/options.h"

namespace korvane::cli {
namespace {

// Each subcommand lives in a file of its own; register it here.
constexpr Command kCommands[] = {
    {"list", "list the entries of an archive through all its volumes", RunListCommand},
    {"test", "check every entry of an archive without writing anything", RunTestCommand},
    {"extract", "extract an archive into a directory", RunExtractCommand},
    {"pack", "store files in a new archive, optionally split into volumes", RunPackCommand},
    {"play", "render a music module to WAV or raw PCM, or describe it", RunPlayCommand},
    {"release", "make a ready installer from a release folder, without a compiler", RunReleaseCommand},
    {"preview", "draw the windows of a release folder as the user will see them, into a PNG", RunPreviewCommand},
};

std::string CommandList() {
  std::string text = "commands:\n";
  for (const Command& c : kCommands) {
    char line[128];
    std::snprintf(line, sizeof line, "  %-8s %s\n", c.name, c.synopsis);
    text += line;
  }
  return text + "\n'korvane COMMAND --help' describes a command.";
}

const std::string kCommandList = CommandList();

const CommandTable kToolCommand{
    .Name = "",
    .Options = {},
    .Operands = "COMMAND [ARGS...]",
    .Description = "Lists, tests and extracts the installer's archives, packs new ones and renders its music.",
    .Epilogue = kCommandList.c_str(),
    .OperandEndsOptions = true,
};

}  // namespace
}  // namespace korvane::cli

int main(int argc, char** argv) {
  using namespace korvane::cli;
  if (argc < 2) {
    PrintHelp(kToolCommand, stderr);
    return 2;
  }
  ParsedArgs args;
  if (const int status = ParseCommandLine(kToolCommand, argc, argv, args); status >= 0) return status;
  const char* name = args.Operands()[0];
  // Results on stdout and messages on stderr stay in the order they happen, also in one log;
  // play may write PCM to stdout, which must not be flushed at every newline byte.
  if (std::strcmp(name, "play") != 0) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  for (const Command& c : kCommands)
    if (std::strcmp(c.name, name) == 0) return c.run(argc - 1, argv + 1);
  std::fprintf(stderr, "korvane: unknown command '%s' (see korvane --help)\n", name);
  return 2;
}
