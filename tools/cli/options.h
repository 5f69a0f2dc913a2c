// The command line of each subcommand as one table: its options, operands, description and
// exit-status text. Parsing, --help, --version, the usage line and every usage error come
// from the table, so that all commands take and refuse arguments the same way.
#pragma once
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace korvane::cli {

struct OptionEntry {
  const char* Long = nullptr;   // "volume-size" for --volume-size, or nullptr
  const char* Short = nullptr;  // "q" for -q; may be longer ("mm"), matched whole
  const char* Value = nullptr;  // the value's name ("BYTES") when the option takes one
  const char* Help = "";        // may hold '\n' for further lines
  const char* With = nullptr;   // long name of the option this one goes with (usage nests it)
  bool Attached = false;        // the value follows a short name in the same word (-m3)
};

struct CommandTable {
  const char* Name;            // "pack"; empty for the tool itself
  std::span<const OptionEntry> Options;
  // Operand words: a plain word is required, [WORD] optional, WORD... one or more (as the
  // last word), [WORD...] any number.
  const char* Operands;
  const char* Description;  // one paragraph
  const char* Epilogue;     // the exit-status text
  // The first operand ends the options (the tool itself: what follows is a command's).
  bool OperandEndsOptions = false;
};

class ParsedArgs {
 public:
  // Options are named by their long name, or their short one when they have none. A name
  // not in the table is a programming error and aborts.
  bool Has(const char* name) const;
  const char* Value(const char* name) const;  // the last one given, or nullptr
  // Of the named options, the one given last (for pairs such as -y / -n), or nullptr.
  const char* Last(std::initializer_list<const char*> names) const;
  const std::vector<const char*>& Operands() const { return OperandList; }

 private:
  friend int ParseCommandLine(const CommandTable&, int, char**, ParsedArgs&);
  std::size_t Index(const char* name) const;

  const CommandTable* Table = nullptr;
  std::vector<int> Position;  // per table entry: argv index of its last use, 0 when not given
  std::vector<const char*> Values;
  std::vector<const char*> OperandList;
};

// Parses argv[1..argc) (argv[0] is the command's name). Returns -1 when the command is to
// run; otherwise the exit status after printing --help or --version (0) or a usage error (2).
int ParseCommandLine(const CommandTable& table, int argc, char** argv, ParsedArgs& out);

// Names a usage problem on stderr with the usage line; returns 2, the usage exit status.
int UsageError(const CommandTable& table, const std::string& message);

std::string UsageLine(const CommandTable& table);  // "usage: korvane NAME ..." without newline
void PrintHelp(const CommandTable& table, std::FILE* out);

}  // namespace korvane::cli
