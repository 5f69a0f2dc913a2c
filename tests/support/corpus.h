// Test helpers shared by every test folder: where the real corpus lies, reading whole
// files and the corpus manifests (tab-separated, first row names the columns).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvane::testing {

// Folder of the shared corpus (KORVANE_CORPUS, else ../shared/corpus from the working folder).
std::string CorpusDir();
// True when the corpus folder exists; tests that need it GTEST_SKIP otherwise.
bool HaveCorpus();
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

using ManifestRow = std::map<std::string, std::string>;
// Reads a MANIFEST.tsv / ENTRIES.tsv: one map per row, keyed by the header's column names.
std::vector<ManifestRow> ReadManifest(const std::string& path);

// A fresh empty directory under the system's temporary folder; removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return Root; }
  std::string File(const std::string& name) const;  // Path() + separator + name

 private:
  std::string Root;
};

}  // namespace korvane::testing
