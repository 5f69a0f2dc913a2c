// The command-line tables: what a table accepts, how it refuses the rest, and the help and
// progress lines drawn from it. Output goes to temporary files, so stdout and stderr are
// captured around each parse.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "tools/cli/options.h"
#include "tools/cli/progress_line.h"

namespace {
using namespace korvane::cli;

constexpr OptionEntry kOptions[] = {
    {.Short = "q", .Help = "quiet"},
    {.Short = "y", .Help = "yes to all"},
    {.Short = "n", .Help = "no to all"},
    {.Short = "m", .Value = "N", .Help = "level", .Attached = true},
    {.Short = "mm", .Help = "multimedia"},
    {.Long = "size", .Value = "BYTES", .Help = "volume size\nsecond line of the size text"},
    {.Long = "host", .Value = "OS", .Help = "host system"},
    {.Long = "code", .Value = "NAME", .Help = "code page", .With = "host"},
    {.Long = "progress", .Short = "p", .Help = "always show progress"},
};

const CommandTable kDemo{
    .Name = "demo",
    .Options = kOptions,
    .Operands = "ARCHIVE PATH [MORE...]",
    .Description = "Demonstrates the table.",
    .Epilogue = "exit status: 0 fine",
};

const CommandTable kBounded{
    .Name = "bounded", .Options = kOptions, .Operands = "ARCHIVE [DEST]", .Description = "", .Epilogue = ""};

std::string ReadBack(std::FILE* f) {
  std::string text;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

// Runs fn with stdout and stderr each redirected into a temporary file.
template <typename Fn>
void Captured(Fn fn, std::string& out, std::string& err) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::FILE* o = std::tmpfile();
  std::FILE* e = std::tmpfile();
  const int savedOut = dup(1), savedErr = dup(2);
  dup2(fileno(o), 1);
  dup2(fileno(e), 2);
  fn();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  out = ReadBack(o);
  err = ReadBack(e);
  std::fclose(o);
  std::fclose(e);
}

struct Parse {
  int Status = 0;
  // The command line, kept alive as a program's argv is: the parse points into it.
  std::shared_ptr<std::vector<std::string>> Words;
  ParsedArgs Args;
  std::string Out, Err;
};

Parse ParseWords(const CommandTable& table, std::vector<std::string> words) {
  Parse p;
  p.Words = std::make_shared<std::vector<std::string>>(std::move(words));
  p.Words->insert(p.Words->begin(), table.Name);
  std::vector<char*> argv;
  for (std::string& w : *p.Words) argv.push_back(w.data());
  Captured([&] { p.Status = ParseCommandLine(table, static_cast<int>(argv.size()), argv.data(), p.Args); }, p.Out,
           p.Err);
  return p;
}

std::string Joined(const std::vector<const char*>& operands) {
  std::string s;
  for (const char* o : operands) s += std::string(s.empty() ? "" : "|") + o;
  return s;
}

// Flags in any order and place, values separate or after '=', attached values, the last of a
// pair winning, and operands after `--` or a lone '-' taken as they are.
TEST(OptionTable, AcceptsFlagsValuesAndOperands) {
  const struct {
    std::vector<std::string> Words;
    std::string Operands;
    std::string Size, Level, Last;  // --size, -m, the last of -y / -n; empty when not given
    bool Quiet, Multimedia, Progress;
  } cases[] = {
      {{"a.rar", "dir"}, "a.rar|dir", "", "", "", false, false, false},
      {{"-q", "a.rar", "--size", "5k", "dir", "more"}, "a.rar|dir|more", "5k", "", "", true, false, false},
      {{"--size=-5", "a.rar", "dir"}, "a.rar|dir", "-5", "", "", false, false, false},
      {{"--size", "-q", "a.rar", "dir"}, "a.rar|dir", "-q", "", "", false, false, false},  // a value, not -q
      {{"-m3", "-mm", "a.rar", "dir", "-m0"}, "a.rar|dir", "", "0", "", false, true, false},
      {{"-y", "-n", "a.rar", "dir"}, "a.rar|dir", "", "", "n", false, false, false},
      {{"-n", "-y", "a.rar", "dir"}, "a.rar|dir", "", "", "y", false, false, false},
      {{"-p", "a.rar", "dir"}, "a.rar|dir", "", "", "", false, false, true},
      {{"--progress", "a.rar", "dir"}, "a.rar|dir", "", "", "", false, false, true},
      {{"--", "-q", "--size"}, "-q|--size", "", "", "", false, false, false},
      {{"-q", "--", "-a.rar", "--", "x"}, "-a.rar|--|x", "", "", "", true, false, false},
      {{"-", "dir"}, "-|dir", "", "", "", false, false, false},
  };
  for (const auto& c : cases) {
    const Parse p = ParseWords(kDemo, c.Words);
    const std::string shown = ::testing::PrintToString(c.Words);
    ASSERT_EQ(p.Status, -1) << shown << "\n" << p.Err;
    EXPECT_EQ(p.Out + p.Err, "") << shown;
    EXPECT_EQ(Joined(p.Args.Operands()), c.Operands) << shown;
    EXPECT_EQ(p.Args.Value("size") ? p.Args.Value("size") : "", c.Size) << shown;
    EXPECT_EQ(p.Args.Value("m") ? p.Args.Value("m") : "", c.Level) << shown;
    const char* last = p.Args.Last({"y", "n"});
    EXPECT_EQ(last ? last : "", c.Last) << shown;
    EXPECT_EQ(p.Args.Has("q"), c.Quiet) << shown;
    EXPECT_EQ(p.Args.Has("mm"), c.Multimedia) << shown;
    EXPECT_EQ(p.Args.Has("progress"), c.Progress) << shown;
    EXPECT_FALSE(p.Args.Has("host")) << shown;
  }
}

// Every refusal is exit 2 with one line naming the problem and the command, then the usage
// line, all on stderr.
TEST(OptionTable, RefusesWhatTheTableDoesNotAllow) {
  const struct {
    const CommandTable& Table;
    std::vector<std::string> Words;
    std::string Message;
  } cases[] = {
      {kDemo, {"-x", "a", "b"}, "korvane demo: unknown option '-x' (see korvane demo --help)\n"},
      {kDemo, {"a", "b", "--sise", "1"}, "unknown option '--sise'"},
      {kDemo, {"-qy", "a", "b"}, "unknown option '-qy'"},      // no bundling
      {kDemo, {"-m", "3", "a", "b"}, "unknown option '-m'"},   // an attached value is not the next word
      {kDemo, {"a", "b", "--size"}, "--size needs a value (BYTES)"},
      {kDemo, {"-q=1", "a", "b"}, "unknown option '-q=1'"},
      {kDemo, {"--progress=1", "a", "b"}, "--progress takes no value"},
      {kDemo, {}, "ARCHIVE and PATH missing"},
      {kDemo, {"a"}, "korvane demo: PATH missing"},
      {kDemo, {"-q", "--", "--size"}, "PATH missing"},
      {kBounded, {"a", "b", "c"}, "too many operands at 'c'; the command takes ARCHIVE [DEST]"},
      {kBounded, {}, "ARCHIVE missing"},
  };
  for (const auto& c : cases) {
    const Parse p = ParseWords(c.Table, c.Words);
    const std::string shown = ::testing::PrintToString(c.Words);
    EXPECT_EQ(p.Status, 2) << shown;
    EXPECT_EQ(p.Out, "") << shown;
    EXPECT_NE(p.Err.find(c.Message), std::string::npos) << shown << "\n" << p.Err;
    EXPECT_NE(p.Err.find("\nusage: korvane " + std::string(c.Table.Name) + " "), std::string::npos) << p.Err;
  }
  // Within the bounds nothing is refused.
  EXPECT_EQ(ParseWords(kBounded, {"a"}).Status, -1);
  EXPECT_EQ(ParseWords(kBounded, {"a", "b"}).Status, -1);
}

// --help and --version end the parse with 0 wherever they stand, even without the operands;
// the help names every option with its value and every line of its text.
TEST(OptionTable, HelpAndVersionComeFromTheTable) {
  const Parse version = ParseWords(kDemo, {"a", "--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "korvane demo 1.0\n");
  for (const char* flag : {"--help", "-h"}) {
    const Parse help = ParseWords(kDemo, {"-q", flag});
    EXPECT_EQ(help.Status, 0) << flag;
    EXPECT_EQ(help.Err, "") << flag;
    EXPECT_EQ(help.Out.rfind(UsageLine(kDemo) + "\n\nDemonstrates the table.\n", 0), 0u) << help.Out;
    for (const char* shown : {"  -q ", "  -mN ", "  -mm ", "  --size BYTES ", "  --host OS ", "  --code NAME ",
                              "  -p, --progress ", "  -h, --help ", "  --version ", "  -- ", "exit status: 0 fine"})
      EXPECT_NE(help.Out.find(shown), std::string::npos) << shown << "\n" << help.Out;
    for (const OptionEntry& o : kOptions) {
      const std::string text = o.Help;
      EXPECT_NE(help.Out.find(text.substr(0, text.find('\n')) + "\n"), std::string::npos) << text;
    }
    // A further line of a text sits under the first one's column.
    EXPECT_NE(help.Out.find("volume size\n" + std::string(24, ' ') + "second line"), std::string::npos) << help.Out;
  }
  // An option that goes with another is nested in its brackets; operands come after `--`.
  const std::string usage = UsageLine(kDemo);
  EXPECT_NE(usage.find("[--host OS [--code NAME]]"), std::string::npos) << usage;
  EXPECT_EQ(usage.find("] [--code"), std::string::npos) << usage;
  EXPECT_NE(usage.find("[--] ARCHIVE PATH [MORE...]"), std::string::npos) << usage;
  EXPECT_EQ(usage.rfind("usage: korvane demo [-q] [-y]", 0), 0u) << usage;
}

// The tool's own table stops at the command's name: what follows is the command's to read.
TEST(OptionTable, AFirstOperandCanEndTheOptions) {
  const CommandTable tool{.Name = "", .Options = {}, .Operands = "COMMAND [ARGS...]", .Description = "",
                         .Epilogue = "", .OperandEndsOptions = true};
  const Parse p = ParseWords(tool, {"pack", "-x", "--help"});
  EXPECT_EQ(p.Status, -1) << p.Err;
  EXPECT_EQ(Joined(p.Args.Operands()), "pack|-x|--help");
  EXPECT_NE(ParseWords(tool, {"-x"}).Err.find("korvane: unknown option '-x' (see korvane --help)"), std::string::npos);
  EXPECT_EQ(ParseWords(tool, {"--version"}).Out, "korvane 1.0\n");
  EXPECT_EQ(UsageLine(tool), "usage: korvane COMMAND [ARGS...]");
}

// The line is drawn only when asked for, redrawn for a new percentage or stage and not for the
// same one, and cleared once.
TEST(ProgressLine, RedrawsOnlyWhatChanged) {
  std::FILE* f = std::tmpfile();
  ProgressLine line(true, false, f);
  EXPECT_TRUE(line.Update(0, 200, "  first"));
  EXPECT_FALSE(line.Update(1, 200, "  same percentage"));
  EXPECT_TRUE(line.Update(50, 200, "  quarter"));
  EXPECT_TRUE(line.Update(51, 200, "  next stage", ProgressLine::Change::kStage));
  EXPECT_TRUE(line.Update(400, 200, "  past the end"));
  EXPECT_TRUE(line.Drawn());
  line.Clear();
  line.Clear();
  EXPECT_FALSE(line.Drawn());
  EXPECT_EQ(ReadBack(f),
            "\r[....................]   0%  first\x1b[K"
            "\r[#####...............]  25%  quarter\x1b[K"
            "\r[#####...............]  25%  next stage\x1b[K"
            "\r[####################] 100%  past the end\x1b[K"
            "\r\x1b[K");
  std::fclose(f);

  std::FILE* quiet = std::tmpfile();
  ProgressLine hidden(false, true, quiet);
  EXPECT_FALSE(hidden.Update(10, 20, "  hidden", ProgressLine::Change::kStage));
  hidden.Clear();
  EXPECT_FALSE(hidden.Drawn());
  EXPECT_EQ(ReadBack(quiet), "");
  std::fclose(quiet);
}

}  // namespace
