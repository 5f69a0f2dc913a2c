#include "engine/data_io.h"

#include <filesystem>

#include "engine/archive_format.h"
#include "engine/checksum.h"
#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

struct PercentCase {
  std::int32_t done, total, percent;
};

class Percent : public ::testing::TestWithParam<PercentCase> {};

TEST_P(Percent, Values) { EXPECT_EQ(PercentOf(GetParam().done, GetParam().total), GetParam().percent); }

INSTANTIATE_TEST_SUITE_P(Table, Percent,
                         ::testing::Values(PercentCase{0, 0, 0}, PercentCase{5000, 20000, 25},
                                           PercentCase{15000, 20000, 75}, PercentCase{300, 200, 100},
                                           PercentCase{10000, 10001, 99}, PercentCase{10050, 99, 0},  // 10050/100 > 99/100 = 0 -> total 0
                                           PercentCase{-2000000000, -1000000000, 200},  // sizes past 2 GiB: no overflow
                                           PercentCase{2147483647, 2147483647, 100}));

class DataIo : public EngineTest {
 protected:
  // Opens a volume set, reads the first entry's header and prepares the session as the
  // driver does for a decoded entry.
  void OpenSet(const std::vector<Bytes>& volumes, const std::vector<bool>& present = {}) {
    static const char* kNames[] = {"v.rar", "v.r00", "v.r01", "v.r02", "v.r03"};
    for (std::size_t i = 0; i < volumes.size(); ++i)
      if (present.empty() || present[i]) Write(kNames[i], volumes[i]);
    SetArchiveName(dir.File("v.rar"));
    ASSERT_TRUE(OpenArchive(job.ArchiveName));
    ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
    PrepareSession();
  }
  void PrepareSession() {
    const FileHeader& h = engine.Archive.File;
    SeekFile(engine.Session.InputFile, engine.Archive.NextBlockPos - h.PackSize, kSeekStart);
    engine.Session.PackedLeft = h.PackSize;
    engine.Session.EntryContinues = (h.HeadFlags & kSplitAfter) != 0;
    engine.Session.RemainingOutput = static_cast<std::int32_t>(h.UnpSize);
    engine.Session.BytesWritten = 0;
    engine.Session.Checksum = 0xFFFFFFFFu;
    engine.Session.TestOnly = true;
    engine.UnpackWindow.reset(new std::uint8_t[kUnpackWindowSize]());
  }
  Bytes ReadAll(std::uint32_t step) {
    Bytes out;
    std::uint8_t buffer[4096];
    while (std::uint32_t n = ReadPackedData(engine, job, buffer, step)) out.insert(out.end(), buffer, buffer + n);
    return out;
  }
  Bytes Content(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return b;
  }
};

TEST_F(DataIo, EntryOverThreeVolumesIsReadWithoutAGap) {
  const Bytes content = Content(5000);
  for (std::uint32_t step : {1u, 13u, 700u, 4096u}) {
    SCOPED_TRACE(step);
    host.statuses.clear();
    job.CurrentVolume = 1;
    OpenSet(StoredVolumeSet({{"big.bin", content, {1234, 3000}}}));
    EXPECT_EQ(ReadAll(step), content);
    EXPECT_EQ(job.CurrentVolume, 3);
    EXPECT_EQ(host.CountStatus(status::kExtrPoints), 2);
    EXPECT_FALSE(engine.Session.EntryContinues);
  }
}

TEST_F(DataIo, OneReadSpansTwoMovesWhenPartsAreSmall) {
  const Bytes content = Content(30);
  OpenSet(StoredVolumeSet({{"tiny", content, {10, 20}}}));
  Bytes buffer(100);
  EXPECT_EQ(ReadPackedData(engine, job, buffer.data(), 100), 30u);
  buffer.resize(30);
  EXPECT_EQ(buffer, content);
  EXPECT_EQ(job.CurrentVolume, 3);
}

TEST_F(DataIo, MissingMiddleVolumeAbortsTheRead) {
  OpenSet(StoredVolumeSet({{"big.bin", Content(300), {100, 200}}}), {true, false, true});
  Bytes buffer(300);
  EXPECT_EQ(ReadPackedData(engine, job, buffer.data(), 300), 0u);  // bytes of this call are dropped
  EXPECT_EQ(job.Abort.load(), 1);
  EXPECT_EQ(host.CountBoxes("Cannot find:\n" + dir.File("v.r00")), 1);
  EXPECT_EQ(ReadPackedData(engine, job, buffer.data(), 10), 0u);
}

TEST_F(DataIo, ShortVolumeDeliversWhatIsThere) {
  NewArchiveWriter w;
  EntrySpec e = StoredEntry("f", Content(100));
  w.Main().File(e);
  Bytes cut = w.bytes();
  cut.resize(cut.size() - 40);
  OpenSet({cut});
  Bytes buffer(100);
  EXPECT_EQ(ReadPackedData(engine, job, buffer.data(), 100), 60u);
  EXPECT_EQ(ReadPackedData(engine, job, buffer.data(), 100), 0u);
}

TEST_F(DataIo, StoredCopyWritesNoMoreThanTheUnpackedSize) {
  EntrySpec e = StoredEntry("f", Content(40000));
  e.unpSize = 33000;
  e.fileCrc = Crc32Of(Bytes(e.packed.begin(), e.packed.begin() + 33000));
  NewArchiveWriter w;
  w.Main().File(e);
  OpenSet({w.bytes()});
  CopyStoredData(engine, job);
  EXPECT_EQ(engine.Session.BytesWritten, 33000u);
  EXPECT_EQ(~engine.Session.Checksum, e.fileCrc);
  EXPECT_EQ(engine.Session.RemainingOutput, 0);
}

TEST_F(DataIo, TestRunChecksumsAndReportsProgressWithoutAFile) {
  const Bytes content = Content(70000);
  NewArchiveWriter w;
  w.Main().File(StoredEntry("f", content));
  OpenSet({w.bytes()});
  std::vector<float> progress;
  host.onProgress = [&] { progress.push_back(job.FileProgress); };
  CopyStoredData(engine, job);
  EXPECT_EQ(~engine.Session.Checksum, Crc32Of(content));
  EXPECT_EQ(engine.Session.BytesWritten, 70000u);
  // 32,512-byte blocks: 46 %, 92 %, 100 %, one message per block.
  ASSERT_EQ(progress.size(), 3u);
  EXPECT_FLOAT_EQ(progress[0], 0.46f);
  EXPECT_FLOAT_EQ(progress[1], 0.92f);
  EXPECT_FLOAT_EQ(progress[2], 1.0f);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // only v.rar
}

TEST_F(DataIo, OldArchivesUseTheSixteenBitSum) {
  OldArchiveWriter w;
  const Bytes content = Content(1000);
  w.Main().File(StoredEntry("F", content, true));
  Write("o.rar", w.bytes());
  SetArchiveName(dir.File("o.rar"));
  ASSERT_TRUE(OpenArchive(job.ArchiveName));
  ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
  PrepareSession();
  engine.Session.Checksum = 0;
  CopyStoredData(engine, job);
  EXPECT_EQ(engine.Session.Checksum, OldChecksumOf(content));
}

TEST_F(DataIo, SkipChecksumLeavesTheSumAlone) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("f", Content(10)));
  OpenSet({w.bytes()});
  engine.Session.SkipChecksum = true;
  CopyStoredData(engine, job);
  EXPECT_EQ(engine.Session.Checksum, 0xFFFFFFFFu);
  EXPECT_EQ(engine.Session.BytesWritten, 10u);
}

TEST_F(DataIo, AbortStopsInputAndOutput) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("f", Content(10)));
  OpenSet({w.bytes()});
  job.Abort = 2;
  std::uint8_t buffer[10];
  EXPECT_EQ(ReadPackedData(engine, job, buffer, 10), 0u);
  EXPECT_EQ(WriteUnpackedData(engine, job, buffer, 10), 0u);
  EXPECT_EQ(engine.Session.BytesWritten, 0u);
  EXPECT_TRUE(host.progressParams.empty());
}

TEST_F(DataIo, FailedWriteShowsTheBoxEveryTimeAndLeavesTheChecksumShort) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("f", Content(10)));
  OpenSet({w.bytes()});
  engine.Session.TestOnly = false;
  const std::string target = Write("readonly-handle.bin", BytesOf("x"));
  engine.Session.OutputFile = OpenFileForReading(target.c_str());  // writes must fail
  const std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(WriteUnpackedData(engine, job, data, 4), 0u);
  EXPECT_EQ(WriteUnpackedData(engine, job, data, 4), 0u);
  EXPECT_EQ(host.CountBoxes("EWRITE,WRITE_ERROR"), 2);
  EXPECT_EQ(host.boxes[0].title, "FATAL");
  EXPECT_EQ(host.boxes[0].owner, nullptr);
  EXPECT_EQ(host.boxes[0].style, 0u);
  EXPECT_EQ(engine.Session.Checksum, 0xFFFFFFFFu);
}

// ---- output files ----

class OutputFiles : public EngineTest {
 protected:
  FileHandle Create(const std::string& path, bool& refused) {
    std::string name = path;
    return CreateOutputFile(engine, job.ProgressWindow, name.data(), refused);
  }
};

TEST_F(OutputFiles, NewFileInMissingDirectoriesIsCreatedWithoutAsking) {
  bool refused = true;
  const FileHandle f = Create(dir.Path() + "\\new\\dir\\f.txt", refused);
  EXPECT_TRUE(IsOpenFile(f));
  EXPECT_FALSE(refused);
  CloseFileHandle(f);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.File("new/dir/f.txt")));
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(OutputFiles, OkReplacesThisAndEveryLaterFileWithoutAskingAgain) {
  const std::string a = Write("a.txt", BytesOf("old a")), b = Write("b.txt", BytesOf("old b"));
  host.answers = {kIdOk};
  bool refused = false;
  for (const std::string& p : {a, b}) {
    const FileHandle f = Create(p, refused);
    ASSERT_TRUE(IsOpenFile(f));
    EXPECT_FALSE(refused);
    WriteFileRaw(f, "new", 3);
    CloseFileHandle(f);
    EXPECT_EQ(ReadWholeFile(p), BytesOf("new"));
  }
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Overwrite all files:");
  EXPECT_EQ(host.boxes[0].title, "Zendril 97");
  EXPECT_EQ(host.boxes[0].style, 0x11u);
  EXPECT_EQ(host.CountStatus(status::kFileExists), 1);
}

TEST_F(OutputFiles, CancelKeepsTheFileAndIsAskedAgainForTheNext) {
  const std::string a = Write("a.txt", BytesOf("old a")), b = Write("b.txt", BytesOf("old b"));
  host.defaultAnswer = kIdCancel;
  bool refused = false;
  for (const std::string& p : {a, b}) {
    EXPECT_EQ(Create(p, refused), kFailedFile);
    EXPECT_TRUE(refused);
  }
  EXPECT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(ReadWholeFile(a), BytesOf("old a"));
  EXPECT_EQ(ReadWholeFile(b), BytesOf("old b"));
}

}  // namespace
}  // namespace korvane::testing
