// An entry's output on its way to the disk. It is written under a temporary name in its target
// folder and moved onto its final name only once it is complete, checked, stamped and closed,
// so that a failure of any kind (a bad checksum, a write error, a missing volume, an abort, a
// signal) leaves whatever was there before exactly as it was, and no temporary file behind.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/host.h"
#include "engine/install_journal.h"
#include "platform/file_layer.h"

namespace korvane {

class OutputFile {
 public:
  enum class Opened { kCreated, kRefused, kThroughLink, kFailed };

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Discard(); }

  // Prepares finalName (below a destination of rootLength bytes, see GuardedPath): asks before
  // replacing an existing file unless the user already answered OK for the whole run
  // (overwriteAll, which an OK sets), then creates the temporary file, making missing folders
  // on the way (noted in journal when there is one). kRefused when the user declined.
  Opened Create(Host& host, bool& overwriteAll, const char* finalName, std::size_t rootLength,
                InstallJournal* journal);

  bool IsOpen() const { return Temp.IsOpen(); }
  File& Data() { return Temp; }
  const char* TemporaryName() const { return TempName; }
  // Closes the file and moves it onto its final name. With a journal, an existing file that the
  // installation has not made itself is set aside instead of being replaced, and noted. False
  // (nothing replaced, the temporary file gone) when the move fails.
  bool Commit(InstallJournal* journal);
  // Closes and deletes the temporary file; the final name is never touched.
  void Discard();

 private:
  File Temp;
  std::string Final;
  std::size_t Root = 0;
  char TempName[kPathLimit + 16] = {};  // the final name's folder and a twelve-character leaf
};

// Creates every directory named by a prefix of path that ends just before a separator; the
// part after the last separator is not created. Separators become backslashes. Prefixes within
// the first rootLength bytes (the destination) are created as given; below it no directory is
// made through a link. Each directory made is reported to the host's status hook and noted in
// journal when there is one.
void MakeDirectories(Host& host, char* path, std::size_t rootLength = GuardedPath::kAllTrusted,
                     InstallJournal* journal = nullptr);

}  // namespace korvane
