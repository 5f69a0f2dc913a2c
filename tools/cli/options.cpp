#include "tools/cli/options.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace korvane::cli {
namespace {

constexpr std::size_t kLineWidth = 100;
constexpr std::size_t kHelpColumn = 24;  // where option texts start in --help

struct OperandWord {
  std::string Name;  // without brackets and dots
  bool Optional = false, Repeats = false;
};

std::vector<OperandWord> OperandWords(const char* operands) {
  std::vector<OperandWord> words;
  std::string_view rest = operands;
  while (!rest.empty()) {
    const std::size_t space = rest.find(' ');
    std::string_view word = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    if (word.empty()) continue;
    OperandWord w;
    w.Optional = word.front() == '[';
    if (w.Optional) word = word.substr(1, word.size() - 2);
    w.Repeats = word.size() > 3 && word.substr(word.size() - 3) == "...";
    if (w.Repeats) word.remove_suffix(3);
    w.Name = word;
    words.push_back(std::move(w));
  }
  return words;
}

std::string ProgramName(const CommandTable& table) {
  return *table.Name == '\0' ? std::string("korvane") : std::string("korvane ") + table.Name;
}

// How an option is written: "-q", "--wav FILE", "-mN", "-h, --help".
std::string Shown(const OptionEntry& o, bool withShort = true) {
  std::string s;
  if (o.Short != nullptr && (withShort || o.Long == nullptr)) {
    s = std::string("-") + o.Short;
    if (o.Attached) s += o.Value;
    if (o.Long != nullptr) s += ", ";
  }
  if (o.Long != nullptr) s += std::string("--") + o.Long;
  if (o.Value != nullptr && !o.Attached) s += std::string(" ") + o.Value;
  return s;
}

// The name an option goes by in messages: its long name if it has one.
std::string FlagName(const OptionEntry& o) {
  return o.Long != nullptr ? std::string("--") + o.Long : std::string("-") + o.Short;
}

const OptionEntry* FindLong(const CommandTable& table, std::string_view name) {
  for (const OptionEntry& o : table.Options)
    if (o.Long != nullptr && name == o.Long) return &o;
  return nullptr;
}

// An exact short name first, so that -mm is not read as -m with the value "m".
const OptionEntry* FindShort(const CommandTable& table, std::string_view word, const char*& attached) {
  for (const OptionEntry& o : table.Options)
    if (o.Short != nullptr && !o.Attached && word == o.Short) return &o;
  for (const OptionEntry& o : table.Options) {
    if (o.Short == nullptr || !o.Attached) continue;
    const std::size_t n = std::strlen(o.Short);
    if (word.size() > n && word.substr(0, n) == o.Short) {
      attached = word.data() + n;
      return &o;
    }
  }
  return nullptr;
}

// The table entry a word names, with a value given in the same word (--size=5, -m3).
const OptionEntry* FindOption(const CommandTable& table, const char* word, const char*& value) {
  const std::string_view w = word;
  if (w.substr(0, 2) != "--") return FindShort(table, w.substr(1), value);
  const std::size_t equals = w.find('=');
  if (equals == std::string_view::npos) return FindLong(table, w.substr(2));
  value = word + equals + 1;
  return FindLong(table, w.substr(2, equals - 2));
}

bool OperandCountFits(const CommandTable& table, const std::vector<const char*>& given, std::string& problem) {
  const std::vector<OperandWord> words = OperandWords(table.Operands);
  std::vector<std::string> missing;
  for (std::size_t w = given.size(); w < words.size(); ++w)
    if (!words[w].Optional) missing.push_back(words[w].Name);
  if (!missing.empty()) {
    problem.clear();
    for (std::size_t m = 0; m < missing.size(); ++m)
      problem += (m == 0 ? "" : m + 1 == missing.size() ? " and " : ", ") + missing[m];
    problem += " missing";
    return false;
  }
  const bool unlimited = !words.empty() && words.back().Repeats;
  if (!unlimited && given.size() > words.size()) {
    problem = std::string("too many operands at '") + given[words.size()] + "'; the command takes " + table.Operands;
    return false;
  }
  return true;
}

// Lines of text with the continuation lines indented to column.
void PrintIndented(std::FILE* out, const char* text, std::size_t column) {
  if (*text == '\0') std::fputc('\n', out);
  for (const char* p = text; *p != '\0';) {
    const char* end = std::strchr(p, '\n');
    const std::size_t n = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
    if (p != text) std::fprintf(out, "%*s", static_cast<int>(column), "");
    std::fprintf(out, "%.*s\n", static_cast<int>(n), p);
    p += n + (end != nullptr ? 1 : 0);
  }
}

void PrintOptionLine(std::FILE* out, const std::string& shown, const char* help) {
  std::fprintf(out, "  %s", shown.c_str());
  const std::size_t used = 2 + shown.size();
  std::fprintf(out, "%*s", static_cast<int>(used + 2 <= kHelpColumn ? kHelpColumn - used : 2), "");
  PrintIndented(out, help, kHelpColumn);
}

// One option with the options that go with it nested: "[--host-os OS [--charset NAME]]".
std::string UsageItem(const CommandTable& table, const OptionEntry& o) {
  std::string item = "[" + Shown(o, false);
  for (const OptionEntry& w : table.Options)
    if (w.With != nullptr && o.Long != nullptr && std::strcmp(w.With, o.Long) == 0) item += " " + UsageItem(table, w);
  return item + "]";
}

}  // namespace

std::size_t ParsedArgs::Index(const char* name) const {
  for (std::size_t i = 0; i < Table->Options.size(); ++i) {
    const OptionEntry& o = Table->Options[i];
    if ((o.Long != nullptr && std::strcmp(o.Long, name) == 0) ||
        (o.Long == nullptr && o.Short != nullptr && std::strcmp(o.Short, name) == 0))
      return i;
  }
  std::fprintf(stderr, "korvane: internal error: no option '%s' in the table of '%s'\n", name, Table->Name);
  std::abort();
}

bool ParsedArgs::Has(const char* name) const { return Position[Index(name)] != 0; }

const char* ParsedArgs::Value(const char* name) const { return Values[Index(name)]; }

const char* ParsedArgs::Last(std::initializer_list<const char*> names) const {
  const char* last = nullptr;
  int at = 0;
  for (const char* name : names)
    if (Position[Index(name)] > at) at = Position[Index(name)], last = name;
  return last;
}

int ParseCommandLine(const CommandTable& table, int argc, char** argv, ParsedArgs& out) {
  out.Table = &table;
  out.Position.assign(table.Options.size(), 0);
  out.Values.assign(table.Options.size(), nullptr);
  out.OperandList.clear();
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (optionsEnded || a[0] != '-' || a[1] == '\0') {
      out.OperandList.push_back(a);
      optionsEnded = optionsEnded || table.OperandEndsOptions;
      continue;
    }
    const std::string_view word = a;
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      PrintHelp(table, stdout);
      return 0;
    }
    if (word == "--version") {
      std::printf("%s 1.0\n", ProgramName(table).c_str());
      return 0;
    }
    const char* value = nullptr;
    const OptionEntry* option = FindOption(table, a, value);
    if (option == nullptr) return UsageError(table, "unknown option '" + std::string(word) + "'");
    if (option->Value == nullptr && value != nullptr) return UsageError(table, FlagName(*option) + " takes no value");
    if (option->Value != nullptr && value == nullptr) {
      if (i + 1 == argc) return UsageError(table, FlagName(*option) + " needs a value (" + option->Value + ")");
      value = argv[++i];
    }
    const std::size_t index = static_cast<std::size_t>(option - table.Options.data());
    out.Position[index] = i;
    out.Values[index] = value;
  }
  std::string problem;
  if (!OperandCountFits(table, out.OperandList, problem)) return UsageError(table, problem);
  return -1;
}

int UsageError(const CommandTable& table, const std::string& message) {
  const std::string program = ProgramName(table);
  std::fprintf(stderr, "%s: %s (see %s --help)\n%s\n", program.c_str(), message.c_str(), program.c_str(),
               UsageLine(table).c_str());
  return 2;
}

std::string UsageLine(const CommandTable& table) {
  std::string line = "usage: " + ProgramName(table);
  const std::size_t indent = line.size();
  std::size_t column = line.size();
  auto add = [&](const std::string& item) {
    if (column + 1 + item.size() > kLineWidth) {
      line += "\n" + std::string(indent, ' ');
      column = indent;
    }
    line += " " + item;
    column += 1 + item.size();
  };
  for (const OptionEntry& o : table.Options)
    if (o.With == nullptr) add(UsageItem(table, o));
  if (!table.OperandEndsOptions) add("[--]");
  add(table.Operands);
  return line;
}

void PrintHelp(const CommandTable& table, std::FILE* out) {
  std::fprintf(out, "%s\n\n", UsageLine(table).c_str());
  PrintIndented(out, table.Description, 0);
  std::fputs("\noptions:\n", out);
  for (const OptionEntry& o : table.Options) PrintOptionLine(out, Shown(o), o.Help);
  PrintOptionLine(out, "-h, --help", "show this text");
  PrintOptionLine(out, "--version", "show the version");
  if (!table.OperandEndsOptions) PrintOptionLine(out, "--", "what follows are operands, even if they start with '-'");
  if (*table.Epilogue != '\0') {
    std::fputc('\n', out);
    PrintIndented(out, table.Epilogue, 0);
  }
}

}  // namespace korvane::cli
