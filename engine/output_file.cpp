#include "engine/output_file.h"

#include <cstring>

#include "engine/status.h"

namespace korvane {

OutputFile::Opened OutputFile::Create(Host& host, bool& overwriteAll, const char* finalName,
                                      std::size_t rootLength, InstallJournal* journal) {
  Discard();
  const GuardedPath target(finalName, rootLength);
  if (PathExists(target) && !overwriteAll) {
    host.ReportStatus(Status::kFileExists);
    if (!host.Ask(Question::kOverwriteAll, finalName)) return Opened::kRefused;
    overwriteAll = true;
  }
  if (LastPathMetLink()) return Opened::kThroughLink;
  // A folder of that name cannot be replaced by a file; better to fail now than after decoding.
  if (IsDirectoryPath(target)) return Opened::kFailed;
  Temp = File(CreateTemporaryBeside(target, TempName, sizeof TempName));
  if (!Temp.IsOpen() && !LastPathMetLink()) {
    std::string folders(finalName);
    MakeDirectories(host, folders.data(), rootLength, journal);
    Temp = File(CreateTemporaryBeside(target, TempName, sizeof TempName));
  }
  if (!Temp.IsOpen()) return LastPathMetLink() ? Opened::kThroughLink : Opened::kFailed;
  Final = finalName;
  Root = rootLength;
  return Opened::kCreated;
}

bool OutputFile::Commit(InstallJournal* journal) {
  Temp.Close();
  const GuardedPath from(TempName, Root), to(Final.c_str(), Root);
  char aside[kPathLimit + 16] = {};
  const bool setAside = journal != nullptr && !journal->Touched(Final.c_str());
  if (!MoveOnto(from, to, setAside ? aside : nullptr, sizeof aside)) {
    Discard();
    return false;
  }
  TempName[0] = '\0';
  if (setAside && aside[0] != '\0') {
    journal->NoteReplaced(Final.c_str(), aside);
  } else if (setAside) {
    journal->NoteFile(Final.c_str());
  }
  return true;
}

void OutputFile::Discard() {
  Temp.Close();
  if (TempName[0] != '\0') DeleteFilePath(GuardedPath(TempName, Root));
  TempName[0] = '\0';
}

void MakeDirectories(Host& host, char* path, std::size_t rootLength, InstallJournal* journal) {
  for (char* c = path; *c != '\0'; ++c) {
    if (*c != '\\' && *c != '/') continue;
    *c = '\0';
    // An empty prefix (a leading separator) or a drive fails and is ignored, like an existing one.
    if (path[0] != '\0' && CreateDirectoryPath(GuardedPath(path, rootLength)) == DirResult::kCreated) {
      host.ReportStatus(Status::kCreatDir);
      if (journal != nullptr && static_cast<std::size_t>(c - path) > rootLength) journal->NoteFolder(path);
    }
    *c = '\\';
  }
}

}  // namespace korvane
