#include "tests/support/data_kinds.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "tests/support/corpus.h"

namespace korvane::testing {
namespace {

// Appends rows made by `row` until there are `size` bytes.
template <typename MakeRow>
Bytes Rows(std::size_t size, MakeRow row) {
  Bytes b;
  char line[160];
  for (std::uint32_t i = 0; b.size() < size; ++i) {
    const int n = row(i, line, sizeof line);
    b.insert(b.end(), line, line + n);
  }
  b.resize(size);
  return b;
}

Bytes CorpusFiles(std::size_t size) {
  namespace fs = std::filesystem;
  std::vector<std::string> paths;
  for (const char* folder : {"/mod", "/pcx"}) {
    std::error_code ec;
    for (fs::directory_iterator it(CorpusDir() + folder, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().extension() != ".tsv") paths.push_back(it->path().string());
  }
  std::sort(paths.begin(), paths.end());
  Bytes b;
  for (const std::string& path : paths) {
    if (b.size() >= size) break;
    const Bytes file = ReadWholeFile(path);
    b.insert(b.end(), file.begin(), file.end());
  }
  if (b.size() > size) b.resize(size);
  return b;
}

// Records of an index, a slowly growing offset, a small count, a float and an 8-byte name,
// as a program's tables hold them.
Bytes BinaryRecords(std::size_t size) {
  std::mt19937 r(11);
  Bytes b;
  std::uint32_t offset = 0;
  for (std::uint32_t i = 0; b.size() < size; ++i) {
    offset += r() % 4096;
    const auto count = static_cast<std::uint16_t>(r() % 300);
    const float value = static_cast<float>(r() % 100000) / 100.0f;
    char name[9] = {};
    std::snprintf(name, sizeof name, "it%05u", static_cast<unsigned>(r() % 5000));
    std::uint8_t record[22];
    std::memcpy(record, &i, 4);
    std::memcpy(record + 4, &offset, 4);
    std::memcpy(record + 8, &count, 2);
    std::memcpy(record + 10, &value, 4);
    std::memcpy(record + 14, name, 8);
    b.insert(b.end(), record, record + sizeof record);
  }
  b.resize(size);
  return b;
}

}  // namespace

std::vector<DataKind> DataKinds(std::size_t size) {
  std::mt19937 r(12);
  static const char* kNames[] = {"volume", "entry", "window", "table", "match", "header", "block", "stream"};
  const auto csvRow = [&](std::uint32_t i, char* line, std::size_t room) {
    return std::snprintf(line, room, "%u,%s-%u,2024-%02u-%02u,%u.%02u,%s\n", 1000 + i, kNames[r() % 8], r() % 100,
                         1 + r() % 12, 1 + r() % 28, r() % 5000, r() % 100, r() % 3 == 0 ? "yes" : "no");
  };
  std::vector<DataKind> kinds;
  kinds.push_back({"corpus", CorpusFiles(size)});
  kinds.push_back({"decimal numbers", Rows(size, [](std::uint32_t i, char* line, std::size_t room) {
                     return std::snprintf(line, room, "%u\n", i + 1);
                   })});
  kinds.push_back({"csv", Rows(size, csvRow)});
  kinds.push_back({"random words", WordText(size, 13)});
  kinds.push_back({"pcm", PcmSines(size / 4, 2, 2)});
  kinds.push_back({"binary records", BinaryRecords(size)});
  kinds.push_back({"zeros", Bytes(size, 0)});
  kinds.push_back({"random bytes", RandomBytes(size, 14)});
  return kinds;
}

}  // namespace korvane::testing
