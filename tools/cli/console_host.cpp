#include "tools/cli/console_host.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/messages.h"
#include "engine/status.h"

namespace korvane::cli {
namespace {

// The engine's boxes in the tool's words. The box texts are the installer's own; the tool
// recognises them by their fixed part (everything before the volume name) and keeps the name.
struct Wording {
  const char* Box;
  const char* Line;
  const char* After;    // what follows the name
  bool RefusesArchive;  // the archive named in the box was never opened as one
  bool DiskFull;
};
constexpr Wording kWordings[] = {
    {messages::kCannotFind, "cannot open volume: ", "", false, false},
    {messages::kNotAnArchive, "not an archive: ", "", true, false},
    {messages::kCorruptVolume, "damaged volume: ", "", false, false},
    {messages::kOutOfMemory, "out of memory", "", false, false},
    {messages::kWriteError, "write error", "", false, false},
    {messages::kDiskFull, "disk full while writing ", "; stopped", false, true},
};

}  // namespace

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

bool TakeCharsetOption(int argc, char** argv, int& i, std::string& charset, bool& bad) {
  if (std::strcmp(argv[i], "--charset") != 0) return false;
  if (i + 1 >= argc) {
    std::fprintf(stderr, "korvane: --charset needs a code page name (for example cp437, cp866, cp1251)\n");
    bad = true;
    return true;
  }
  charset = argv[++i];
  if (!NameCharset(charset.c_str()).Valid()) {
    std::fprintf(stderr, "korvane: unknown charset: %s\n", charset.c_str());
    bad = true;
  }
  return true;
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

int ConsoleHost::ShowMessageBox(void*, const char* text, const char*, std::uint32_t style) {
  ++Messages;
  // A question already answered by a flag is not shown.
  const bool question = (style & kMbButtonMask) == kMbOkCancel;
  if (question && OverwriteAnswer == Overwrite::kAll) return kIdOk;
  if (question && OverwriteAnswer == Overwrite::kNever) return kIdCancel;
  if (BeforeMessage) BeforeMessage();
  if (question) {
    // The installer's only question: replace an existing file, and all later ones.
    const std::string name = CurrentEntry ? CurrentEntry() : std::string();
    std::fprintf(stderr, "korvane: %s exists; [o]verwrite it and all later files, or [s]kip it? ",
                 name.empty() ? "a file" : name.c_str());
    std::fflush(stderr);
    char line[64];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return kIdCancel;
    return line[0] == 'o' || line[0] == 'O' || line[0] == 'y' || line[0] == 'Y' ? kIdOk : kIdCancel;
  }
  std::string said;
  for (const Wording& w : kWordings) {
    const char* name = std::strstr(w.Box, "%s");
    const std::size_t n = name != nullptr ? static_cast<std::size_t>(name - w.Box) : std::strlen(w.Box);
    if (std::strncmp(text, w.Box, n) != 0 || (name == nullptr && text[n] != '\0')) continue;
    said = w.Line + DisplayName(text + n) + w.After;
    ArchiveRefused = ArchiveRefused || w.RefusesArchive;
    DiskFull = DiskFull || w.DiskFull;
    break;
  }
  if (said.empty()) {
    for (const char* p = text; *p != 0; ++p) said.push_back(*p == '\n' ? ' ' : *p);
    said = Printable(said.c_str());
  }
  std::fprintf(stderr, "korvane: %s\n", said.c_str());
  return kIdOk;
}

void ConsoleHost::SendProgressMessage(void*, std::uintptr_t, std::intptr_t) {
  if (OnProgress) OnProgress();
}

void ConsoleHost::ReportStatus(const char* identifier) {
  LastStatus = identifier;
  if (std::strcmp(identifier, status::kUnexpEOF) == 0) SawUnexpectedEnd = true;
  if (Verbose) {
    if (BeforeMessage) BeforeMessage();
    std::fprintf(stderr, "[%s]\n", identifier);
  }
  if (OnStatus) OnStatus(identifier);
}

}  // namespace korvane::cli
