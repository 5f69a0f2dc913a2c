#include "tests/support/corpus.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace korvane::testing {

std::string CorpusDir() {
  const char* env = std::getenv("KORVANE_CORPUS");
  return env != nullptr && *env != '\0' ? env : "../shared/corpus";
}

bool HaveCorpus() {
  std::error_code ec;
  return fs::is_directory(CorpusDir(), ec);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::vector<ManifestRow> ReadManifest(const std::string& path) {
  std::vector<ManifestRow> rows;
  std::vector<std::string> header;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<std::string> cells;
    std::istringstream fields(line);
    for (std::string cell; std::getline(fields, cell, '\t');) cells.push_back(cell);
    if (header.empty()) {
      header = std::move(cells);
      continue;
    }
    ManifestRow& row = rows.emplace_back();
    for (std::size_t i = 0; i < header.size(); ++i) row[header[i]] = i < cells.size() ? cells[i] : "";
  }
  return rows;
}

TempDir::TempDir() {
  std::random_device rd;
  const fs::path path = fs::temp_directory_path() / ("korvane-test-" + std::to_string(rd()) + std::to_string(rd()));
  if (!fs::create_directory(path)) std::abort();
  Root = path.string();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files would stop remove_all on Windows; give write permission back first.
  for (auto it = fs::recursive_directory_iterator(Root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
  fs::remove_all(Root, ec);
}

std::string TempDir::File(const std::string& name) const { return (fs::path(Root) / name).string(); }

}  // namespace korvane::testing
