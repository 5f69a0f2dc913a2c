#include "tools/cli/console_host.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace korvane::cli {

std::string Printable(const char* text) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      out.push_back(static_cast<char>(*p));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", *p);
      out += hex;
    }
  }
  return out;
}

std::string DisplayName(const char* entryName) {
  std::string name;
  const auto* p = reinterpret_cast<const unsigned char*>(entryName);
  while (*p != 0) {
    // A whole UTF-8 sequence of a printable character (U+00A0 and up) is kept as it is.
    const int length = *p >= 0xF0 && *p < 0xF5 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC2 ? 2 : 1;
    bool sequence = length > 1 && *p < 0xF5;
    for (int k = 1; sequence && k < length; ++k) sequence = (p[k] & 0xC0) == 0x80;
    if (sequence && length == 2 && *p == 0xC2 && p[1] < 0xA0) sequence = false;  // C1 controls
    if (sequence) {
      name.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(length));
      p += length;
      continue;
    }
#ifndef _WIN32
    if (*p == '\\') {
      name.push_back('/');
      ++p;
      continue;
    }
#endif
    const char one[2] = {static_cast<char>(*p++), '\0'};
    name += Printable(one);
  }
  return name;
}

const char* ReadCharset(const CommandTable& table, const ParsedArgs& args) {
  const char* name = args.Has("charset") ? args.Value("charset") : kDefaultCharset;
  if (NameCharset(name).Valid()) return name;
  // The first line is the one scripts have matched on since the option appeared.
  std::fprintf(stderr, "korvane: unknown charset: %s\n", Printable(name).c_str());
  UsageError(table, "--charset needs a code page this system knows, such as cp437, cp866 or cp1251");
  return nullptr;
}

bool ConsoleHost::AdaptEntryName(std::uint8_t hostOs, char* name, std::size_t capacity) {
  return Charset == nullptr || Charset->Convert(hostOs, name, capacity);
}

bool CheckArchiveReadable(const char* path) {
  std::error_code error;
  const bool directory = std::filesystem::is_directory(path, error);
  std::FILE* f = directory ? nullptr : std::fopen(path, "rb");
  if (f != nullptr) {
    std::fclose(f);
    return true;
  }
  std::fprintf(stderr, "korvane: cannot open archive: %s: %s\n", Printable(path).c_str(),
               directory ? "is a directory" : std::strerror(errno));
  return false;
}

void ConsoleHost::Tell(Notice notice, const char* subject) {
  ++Messages;
  if (BeforeMessage) BeforeMessage();
  const std::string name = subject != nullptr ? DisplayName(subject) : std::string();
  std::string said;
  switch (notice) {
    case Notice::kCannotFind:
      said = "cannot open volume: " + name;
      break;
    case Notice::kNotAnArchive:
      said = "not an archive: " + name;
      ArchiveRefused = true;
      break;
    case Notice::kCorruptVolume:
      said = "damaged volume: " + name;
      break;
    case Notice::kOutOfMemory:
      said = "out of memory";
      break;
    case Notice::kWriteError:
      said = "write error";
      break;
    case Notice::kDiskFull:
      said = "disk full while writing " + name + "; stopped";
      DiskFull = true;
      break;
  }
  std::fprintf(stderr, "korvane: %s\n", said.c_str());
}

bool ConsoleHost::Ask(Question question, const char* subject) {
  ++Messages;
  // A question already answered by a flag is not shown.
  if (OverwriteAnswer == Overwrite::kAll) return true;
  if (OverwriteAnswer == Overwrite::kNever) return false;
  if (BeforeMessage) BeforeMessage();
  switch (question) {
    case Question::kOverwriteAll: {
      std::string name = CurrentEntry ? CurrentEntry() : std::string();
      if (name.empty() && subject != nullptr) name = DisplayName(subject);
      std::fprintf(stderr, "korvane: %s exists; [o]verwrite it and all later files, or [s]kip it? ",
                   name.empty() ? "a file" : name.c_str());
      break;
    }
  }
  std::fflush(stderr);
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
  return line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y';
}

void ConsoleHost::ShowProgress() {
  if (OnProgress) OnProgress();
}

void ConsoleHost::ReportStatus(Status status) {
  if (status == Status::kUnexpEOF) SawUnexpectedEnd = true;
  if (Verbose) {
    if (BeforeMessage) BeforeMessage();
    std::fprintf(stderr, "[%s]\n", StatusName(status));
  }
  if (OnStatus) OnStatus(status);
}

}  // namespace korvane::cli
