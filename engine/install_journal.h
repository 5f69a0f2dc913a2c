// What one installation changed, kept so that it can be undone: the folders and files it
// created, and each file it replaced, which waits under a name of its own beside the new one
// until the installation is kept (the old file is deleted) or undone (it is put back).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace korvane {

class InstallJournal {
 public:
  // rootLength: how much of every name below is the destination, which the undo never touches.
  void Begin(std::size_t rootLength);
  std::size_t RootLength() const { return Root; }
  bool Empty() const { return Folders.empty() && Files.empty() && Replaced.empty(); }

  void NoteFolder(const char* name) { Folders.emplace_back(name); }
  void NoteFile(const char* name) { Files.emplace_back(name); }
  void NoteReplaced(const char* name, const char* aside) { Replaced.push_back({name, aside}); }
  // Whether name is already this installation's own (created or replaced by it), regardless of
  // case: replacing it again must not set aside what it wrote itself.
  bool Touched(const char* name) const;

  // Deletes what was created and puts back what was replaced; false when something could not be
  // undone (it is then left where it is). The journal is empty afterwards.
  bool Undo();
  // Keeps the installation: the set-aside files are deleted. The journal is empty afterwards.
  void Keep();

 private:
  struct Replacement {
    std::string Name, Aside;
  };
  std::size_t Root = 0;
  std::vector<std::string> Folders;  // in the order they were made
  std::vector<std::string> Files;
  std::vector<Replacement> Replaced;
};

}  // namespace korvane
