// The release this build made: a solid set of exactly the counted volumes, packed at the top
// level, that installs every file of the payload with its read-only bit and its empty folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "tests/engine/engine_fixture.h"
#include "tests/support/archive_bytes.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

#ifdef KORVANE_RELEASE_DIR
class Release : public EngineTest {};

TEST_F(Release, SolidPackedVolumesInstallThePayload) {
  const std::string first = std::string(KORVANE_RELEASE_DIR) + "/" + KORVANE_RELEASE_ARCHIVE;
  ASSERT_TRUE(fs::exists(first)) << "build the korvane_release target first";
  const RawArchive raw = ReadArchiveSet(first, true);
  ASSERT_TRUE(raw.Valid);
  EXPECT_TRUE(raw.Solid);
  EXPECT_EQ(raw.Volumes, KORVANE_RELEASE_VOLUMES);
  const Bytes count = ReadWholeFile(KORVANE_RES_VOLUME_COUNT);
  ASSERT_EQ(count.size(), 2u);
  EXPECT_EQ((count[0] - '0') * 10 + (count[1] - '0'), raw.Volumes);
  EXPECT_EQ(ReadWholeFile(std::string(KORVANE_RELEASE_DIR) + "/korvane.nfo"),
            ReadWholeFile(std::string(KORVANE_RELEASE_SOURCE) + "/korvane.nfo"));

  std::map<std::string, std::string> attributes;  // name -> "readonly" or "emptydir"
  std::ifstream list(std::string(KORVANE_RELEASE_SOURCE) + "/payload-attributes.txt");
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = line.find(' ');
    std::string name = line.substr(space + 1);
    std::replace(name.begin(), name.end(), '/', '\\');
    attributes[name] = line.substr(0, space);
  }
  std::size_t packed = 0, files = 0;
  for (const RawEntry& e : raw.Entries) {
    SCOPED_TRACE(e.Name);
    const std::string kind = attributes[e.Name];
    attributes.erase(e.Name);
    if (e.Directory()) continue;
    EXPECT_TRUE(e.Method == 0x35 || e.Method == 0x30);
    packed += e.Method == 0x35;
    ++files;
    EXPECT_EQ(e.FileAttr, kind == "readonly" ? 0x21u : 0x20u);
  }
  EXPECT_GT(packed * 2, files) << "most files are packed";
  for (const auto& [name, kind] : attributes) ADD_FAILURE() << kind << " " << name << " is not in the release";

  // Installed by the driver, the payload comes back whole and nothing else appears.
  TempDir dest;
  std::snprintf(Job.DestinationDir, sizeof Job.DestinationDir, "%s\\", dest.Path().c_str());
  Run(first, 'X');
  EXPECT_EQ(Job.ErrorCount, 0);
  EXPECT_EQ(Job.CurrentVolume, KORVANE_RELEASE_VOLUMES);
  const fs::path payload = fs::path(KORVANE_RELEASE_SOURCE) / "payload";
  std::size_t installed = 0;
  for (const auto& item : fs::recursive_directory_iterator(payload)) {
    if (!item.is_regular_file()) continue;
    const fs::path copy = fs::path(dest.Path()) / fs::relative(item.path(), payload);
    EXPECT_EQ(ReadWholeFile(copy.string()), ReadWholeFile(item.path().string())) << copy;
  }
  for (const auto& item : fs::recursive_directory_iterator(dest.Path())) installed += item.is_regular_file();
  EXPECT_EQ(installed, files);
}
#endif

}  // namespace
}  // namespace korvane::testing
