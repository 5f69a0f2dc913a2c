// korvane: the command-line tool over the installer's core (archives and music).
#include <cstdio>
#include <cstring>

#include "tools/cli/commands.h"

namespace korvane::cli {

// Each subcommand lives in a file of its own; register it here.
static const Command kCommands[] = {
    {"list", "list the entries of an archive through all its volumes", RunListCommand},
    {"test", "check every entry of an archive without writing anything", RunTestCommand},
    {"extract", "extract an archive into a directory", RunExtractCommand},
    {"pack", "store files in a new archive, optionally split into volumes", RunPackCommand},
    {"play", "render a music module to WAV or raw PCM, or describe it", RunPlayCommand},
    {nullptr, nullptr, nullptr},
};

void PrintUsage(const char* usage) { std::fputs(usage, stdout); }

static void PrintToolHelp() {
  std::puts("usage: korvane COMMAND [OPTIONS] ARGS...\n\ncommands:");
  for (const Command& c : kCommands)
    if (c.name != nullptr) std::printf("  %-8s %s\n", c.name, c.synopsis);
  std::puts("\n'korvane COMMAND --help' describes a command.");
}

}  // namespace korvane::cli

int main(int argc, char** argv) {
  using namespace korvane::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintToolHelp();
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::puts("korvane 1.0");
    return 0;
  }
  // Results on stdout and messages on stderr stay in the order they happen, also in one log;
  // play may write PCM to stdout, which must not be flushed at every newline byte.
  if (std::strcmp(argv[1], "play") != 0) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  for (const Command& c : kCommands)
    if (c.name != nullptr && std::strcmp(c.name, argv[1]) == 0) return c.run(argc - 1, argv + 1);
  std::fprintf(stderr, "korvane: unknown command '%s' (see korvane --help)\n", argv[1]);
  return 2;
}
