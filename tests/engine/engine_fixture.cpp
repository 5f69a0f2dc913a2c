#include "tests/engine/engine_fixture.h"

#include "engine/archive_format.h"
#include "engine/volumes.h"

namespace korvane::testing {

bool EngineTest::OpenArchive(const std::string& path) {
  engine.CloseFiles();
  engine.Session.InputFile = OpenFileForReading(path.c_str());
  if (!IsOpenFile(engine.Session.InputFile)) return false;
  if (!IdentifyArchive(engine)) return false;
  SkipRestOfMainHeader(engine);
  return true;
}

std::vector<std::string> EngineTest::WalkNames() {
  std::vector<std::string> names;
  for (int guard = 0; guard < 10000; ++guard) {
    if (NextBlock(engine, kFileHead, false) == 0) break;
    names.emplace_back(engine.Archive.EntryName);
    SeekFile(engine.Session.InputFile, engine.Archive.NextBlockPos, kSeekStart);
  }
  return names;
}

}  // namespace korvane::testing
