#include "engine/data_io.h"

#include <filesystem>

#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

TEST(Percent, ScalesDownAboveTenThousandAndSurvivesSizesPast2GiB) {
  const std::int32_t cases[][3] = {{0, 0, 0},       {5000, 20000, 25},   {15000, 20000, 75}, {300, 200, 100},
                                   {10000, 10001, 99}, {10050, 99, 0},  // total scaled down to 0
                                   {-2000000000, -1000000000, 200}, {2147483647, 2147483647, 100}};
  for (const auto& c : cases) EXPECT_EQ(PercentOf(c[0], c[1]), c[2]) << c[0] << " of " << c[1];
}

class DataIo : public EngineTest {
 protected:
  // Writes the volumes, opens the first and prepares the session as the driver does for an entry.
  void OpenSet(const std::vector<Bytes>& volumes) {
    static const char* kNames[] = {"v.rar", "v.r00", "v.r01"};
    for (std::size_t i = 0; i < volumes.size(); ++i) Write(kNames[i], volumes[i]);
    SetArchiveName(dir.File("v.rar"));
    ASSERT_TRUE(OpenArchive(job.ArchiveName));
    ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
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
  void OpenSingle(const EntrySpec& e) {
    NewArchiveWriter w;
    w.Main().File(e);
    OpenSet({w.bytes()});
  }
  static Bytes Content(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return b;
  }
};

// Every read is served in full across volume moves (one read may span several), so the
// decoders never see a gap or a short read in the middle of an entry.
TEST_F(DataIo, EntryOverThreeVolumesIsReadWithoutAGapOrAShortRead) {
  const struct {
    std::size_t size;
    std::vector<std::size_t> cuts;
    std::uint32_t step;
  } cases[] = {{5000, {1234, 3000}, 1}, {5000, {1234, 3000}, 13},  {5000, {1234, 3000}, 700},
               {5000, {1234, 3000}, 4096}, {30, {10, 20}, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.size << " bytes in steps of " << c.step);
    host.statuses.clear();
    job.CurrentVolume = 1;
    const Bytes content = Content(c.size);
    OpenSet(StoredVolumeSet({{"big.bin", content, c.cuts}}));
    Bytes out, buffer(c.step);
    while (std::uint32_t n = ReadPackedData(engine, job, buffer.data(), c.step)) {
      ASSERT_EQ(n, std::min<std::size_t>(c.step, content.size() - out.size()));
      out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(out, content);
    EXPECT_EQ(job.CurrentVolume, 3);
    EXPECT_EQ(host.CountStatus(status::kExtrPoints), 2);
    EXPECT_FALSE(engine.Session.EntryContinues);
  }
}

TEST_F(DataIo, StoredCopyWritesNoMoreThanTheUnpackedSize) {
  EntrySpec e = StoredEntry("f", Content(40000));
  e.unpSize = 33000;
  e.fileCrc = Crc32Of(Bytes(e.packed.begin(), e.packed.begin() + 33000));
  OpenSingle(e);
  CopyStoredData(engine, job);
  EXPECT_EQ(engine.Session.BytesWritten, 33000u);
  EXPECT_EQ(~engine.Session.Checksum, e.fileCrc);
  EXPECT_EQ(engine.Session.RemainingOutput, 0);
}

TEST_F(DataIo, TestRunChecksumsAndReportsProgressWithoutAFile) {
  const Bytes content = Content(70000);
  OpenSingle(StoredEntry("f", content));
  std::vector<float> progress;
  host.onProgress = [&] { progress.push_back(job.FileProgress); };
  CopyStoredData(engine, job);
  EXPECT_EQ(~engine.Session.Checksum, Crc32Of(content));
  EXPECT_EQ(engine.Session.BytesWritten, 70000u);
  const float want[] = {0.46f, 0.92f, 1.0f};  // one message per 32,512-byte block
  ASSERT_EQ(progress.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(progress[i], want[i]);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // only v.rar
}

TEST_F(DataIo, SkipChecksumLeavesTheSumAlone) {
  OpenSingle(StoredEntry("f", Content(10)));
  engine.Session.SkipChecksum = true;
  CopyStoredData(engine, job);
  EXPECT_EQ(engine.Session.Checksum, 0xFFFFFFFFu);
  EXPECT_EQ(engine.Session.BytesWritten, 10u);
}

TEST_F(DataIo, AbortStopsInputAndOutput) {
  OpenSingle(StoredEntry("f", Content(10)));
  job.Abort = 2;
  std::uint8_t buffer[10];
  EXPECT_EQ(ReadPackedData(engine, job, buffer, 10), 0u);
  EXPECT_EQ(WriteUnpackedData(engine, job, buffer, 10), 0u);
  EXPECT_EQ(engine.Session.BytesWritten, 0u);
  EXPECT_TRUE(host.progressWindows.empty());
}

TEST_F(DataIo, FailedWriteShowsTheBoxEveryTimeAndLeavesTheChecksumShort) {
  OpenSingle(StoredEntry("f", Content(10)));
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

}  // namespace
}  // namespace korvane::testing
