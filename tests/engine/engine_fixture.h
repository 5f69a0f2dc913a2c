// A scripted host and a fresh reader, job and decompression state, over archives written into
// a temp folder.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_format.h"
#include "engine/extraction.h"
#include "engine/volumes.h"
#include "tests/support/archive_bytes.h"
#include "tests/support/corpus.h"
#include "ui/engine_boxes.h"

namespace korvane::testing {

// Records the statuses and, as the installer would show them, every notice and question, and
// answers every question with Answer.
class FakeHost final : public Host {
 public:
  struct Box {
    bool Owned;               // by the progress window
    std::string Text, Title;  // Title "(none)": the system's default title
    std::uint32_t Style;
  };
  void Tell(Notice notice, const char* subject) override { Record(ui::BoxFor(notice), subject); }
  bool Ask(Question question, const char*) override {
    Record(ui::BoxFor(question), nullptr);
    return Answer;
  }
  void ShowProgress() override {
    if (OnProgress) OnProgress();
  }
  void ReportStatus(Status status) override { Statuses.emplace_back(StatusName(status)); }

  int Count(const std::string& id) const { return static_cast<int>(std::count(Statuses.begin(), Statuses.end(), id)); }
  int Count(Status status) const { return Count(std::string(StatusName(status))); }
  bool Saw(const std::string& id) const { return Count(id) > 0; }
  bool Saw(Status status) const { return Count(status) > 0; }
  int CountBoxes(const std::string& text) const {
    return static_cast<int>(std::count_if(Boxes.begin(), Boxes.end(), [&](const Box& b) { return b.Text == text; }));
  }

  std::vector<Box> Boxes;
  std::vector<std::string> Statuses;
  bool Answer = true;
  std::function<void()> OnProgress;

 private:
  void Record(const ui::EngineBox& box, const char* subject) {
    char text[kPathLimit + 64];
    ui::FormatBoxText(box, subject, text, sizeof text);
    Boxes.push_back(Box{box.OwnedByProgress, text, box.Title ? box.Title : "(none)", box.Style});
  }
};

class EngineTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    Reader.Reset();  // Windows keeps an open archive from being rewritten
    const std::string path = Dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }
  static Bytes Archive(const std::vector<EntrySpec>& entries, bool oldLayout = false) {
    ArchiveWriter w(oldLayout);
    w.Main();
    for (const EntrySpec& e : entries) w.File(e);
    return w.Data();
  }
  // Writes volumes as stem.rar, stem.r00, ...
  void WriteSet(const std::string& stem, const std::vector<Bytes>& volumes) {
    for (std::size_t i = 0; i < volumes.size(); ++i) Write(VolumeFileName(stem, i), volumes[i]);
  }
  // Opens path in the reader up to its first block; true when it is an archive.
  bool Open(const std::string& path) {
    Start(path);
    return OpenArchive(Reader, Job);
  }
  // A whole driver run in mode on path; a test run has no destination.
  std::int32_t Run(const std::string& path, char mode) {
    Start(path);
    Job.Stop(AbortState::kRunning);
    Job.CurrentVolume = 1;
    Job.Mode = static_cast<JobMode>(mode);  // 'X' or 'T'
    if (Job.Mode == JobMode::kTest) Job.DestinationDir[0] = '\0';
    return RunExtraction(Reader, *Unpack, Job);
  }
  // The archive's name in the job, and fresh statuses and boxes.
  void Start(const std::string& path) {
    ASSERT_LT(path.size(), sizeof Job.ArchiveName);
    std::strcpy(Job.ArchiveName, path.c_str());
    Host.Statuses.clear();
    Host.Boxes.clear();
  }

  TempDir Dir;
  FakeHost Host;
  ArchiveReader Reader{Host};
  ExtractionJob Job;
  std::unique_ptr<UnpackState> Unpack = std::make_unique<UnpackState>();
};

// Runs into a destination folder of the temp folder.
class Extraction : public EngineTest {
 protected:
  void SetUp() override {
    Dest = Dir.File("dest");
    std::filesystem::create_directory(Dest);
  }
  std::int32_t RunOn(const std::string& file, char mode) {
    if (mode == 'X') std::snprintf(Job.DestinationDir, sizeof Job.DestinationDir, "%s\\", Dest.c_str());
    return Run(Dir.File(file), mode);
  }
  std::int32_t RunNew(const std::vector<EntrySpec>& entries, char mode) {
    Write("a.rar", Archive(entries));
    return RunOn("a.rar", mode);
  }
  std::string InDest(const std::string& rel) const { return (std::filesystem::path(Dest) / rel).string(); }
  std::vector<std::string> DestTree() const {
    std::vector<std::string> out;
    // Links are listed as themselves, never followed.
    for (const auto& item : std::filesystem::recursive_directory_iterator(Dest)) {
      const bool folder = std::filesystem::is_directory(item.symlink_status());
      out.push_back(item.path().lexically_relative(Dest).generic_string() + (folder ? "/" : ""));
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string Dest;
};

}  // namespace korvane::testing
