#include "engine/install_journal.h"

#include "platform/file_layer.h"

namespace korvane {
namespace {

bool SameNameIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c == '/' ? '\\' : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

void InstallJournal::Begin(std::size_t rootLength) {
  Root = rootLength;
  Folders.clear();
  Files.clear();
  Replaced.clear();
}

bool InstallJournal::Touched(const char* name) const {
  for (const std::string& f : Files)
    if (SameNameIgnoringCase(f, name)) return true;
  for (const Replacement& r : Replaced)
    if (SameNameIgnoringCase(r.Name, name)) return true;
  return false;
}

bool InstallJournal::Undo() {
  bool complete = true;
  for (const std::string& f : Files) complete = DeleteFilePath(GuardedPath(f.c_str(), Root)) && complete;
  for (const Replacement& r : Replaced)
    complete = MoveOnto(GuardedPath(r.Aside.c_str(), Root), GuardedPath(r.Name.c_str(), Root)) && complete;
  // Innermost first: a folder is made after the folder it lies in.
  for (auto f = Folders.rbegin(); f != Folders.rend(); ++f)
    complete = RemoveEmptyDirectory(GuardedPath(f->c_str(), Root)) && complete;
  Begin(Root);
  return complete;
}

void InstallJournal::Keep() {
  for (const Replacement& r : Replaced) DeleteFilePath(GuardedPath(r.Aside.c_str(), Root));
  Begin(Root);
}

}  // namespace korvane
