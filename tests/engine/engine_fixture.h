// A fresh engine with a scripted host and a job, over archives written into a temp folder.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "engine/job.h"
#include "tests/engine/archive_writer.h"
#include "tests/engine/fake_host.h"
#include "tests/support/corpus.h"

namespace korvane::testing {

class EngineTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    // Windows keeps an open archive from being rewritten: let go of it first.
    engine.CloseFiles();
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }
  // Opens path as the archive (Session.InputFile); true when it is one.
  bool OpenArchive(const std::string& path);
  void SetArchiveName(const std::string& path) {
    ASSERT_LT(path.size(), sizeof job.ArchiveName);
    std::strcpy(job.ArchiveName, path.c_str());
  }
  // Names of all entries NextBlock returns from the current position (sub-blocks skipped).
  std::vector<std::string> WalkNames();

  TempDir dir;
  FakeHost host;
  EngineState engine{host};
  ExtractionJob job;
};

}  // namespace korvane::testing
