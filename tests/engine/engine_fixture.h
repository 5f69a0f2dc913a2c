// A fresh engine with a scripted host and a job, over archives written into a temp folder.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_format.h"
#include "engine/archive_reader.h"
#include "engine/extraction.h"
#include "engine/job.h"
#include "engine/volumes.h"
#include "tests/engine/archive_writer.h"
#include "tests/engine/fake_host.h"
#include "tests/support/corpus.h"
#include "unpack/unpack_state.h"

namespace korvane::testing {

class EngineTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    reader.Reset();  // Windows keeps an open archive from being rewritten
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }
  // Opens path in the reader and reads its main header; true when it is an archive.
  bool OpenArchive(const std::string& path) {
    reader.Reset();
    reader.Input = File::OpenForReading(path.c_str());
    if (!reader.Input.IsOpen() || !IdentifyArchive(reader)) return false;
    SkipRestOfMainHeader(reader);
    return true;
  }
  void SetArchiveName(const std::string& path) {
    ASSERT_LT(path.size(), sizeof job.ArchiveName);
    std::strcpy(job.ArchiveName, path.c_str());
  }
  // Names of the entries NextBlock returns from the current position (sub-blocks passed over).
  std::vector<std::string> WalkNames() {
    std::vector<std::string> names;
    for (int guard = 0; guard < 10000 && NextBlock(reader, kFileHead, false) != 0; ++guard) {
      names.emplace_back(reader.Archive.EntryName);
      reader.Input.Seek(reader.Archive.NextBlockPos, kSeekStart);
    }
    return names;
  }
  // A whole driver run on path, with fresh statuses and boxes; a test run has no destination.
  std::int32_t Run(const std::string& path, char mode) {
    host.statuses.clear();
    host.boxes.clear();
    SetArchiveName(path);
    job.Abort = 0;
    job.CurrentVolume = 1;
    job.Mode = mode;
    if (mode == 'T') job.DestinationDir[0] = '\0';
    return RunExtraction(reader, *unpack, job.ProgressWindow, job);
  }

  TempDir dir;
  FakeHost host;
  ArchiveReader reader{host};
  ExtractionJob job;
  std::unique_ptr<UnpackState> unpack = std::make_unique<UnpackState>();
};

}  // namespace korvane::testing
