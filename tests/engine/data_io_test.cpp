#include "engine/data_io.h"

#include <filesystem>

#include "engine/checksum.h"
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
    ASSERT_NE(NextBlock(reader, kFileHead, true), 0u);
    const FileHeader& h = reader.Archive.File;
    reader.Input.Seek(reader.Archive.NextBlockPos - h.PackSize, kSeekStart);
    reader.PackedLeft = h.PackSize;
    reader.EntryContinues = (h.HeadFlags & kSplitAfter) != 0;
    session.RemainingOutput = static_cast<std::int32_t>(h.UnpSize);
    session.BytesWritten = 0;
    session.Checksum = 0xFFFFFFFFu;
    session.TestOnly = true;
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
  UnpackSession session;
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
    while (std::uint32_t n = ReadPackedData(reader, job, buffer.data(), c.step)) {
      ASSERT_EQ(n, std::min<std::size_t>(c.step, content.size() - out.size()));
      out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(out, content);
    EXPECT_EQ(job.CurrentVolume, 3);
    EXPECT_EQ(host.CountStatus(status::kExtrPoints), 2);
    EXPECT_FALSE(reader.EntryContinues);
  }
}

TEST_F(DataIo, StoredCopyWritesNoMoreThanTheUnpackedSize) {
  EntrySpec e = StoredEntry("f", Content(40000));
  e.unpSize = 33000;
  e.fileCrc = Crc32Of(Bytes(e.packed.begin(), e.packed.begin() + 33000));
  OpenSingle(e);
  CopyStoredData(reader, session, job);
  EXPECT_EQ(session.BytesWritten, 33000u);
  EXPECT_EQ(~session.Checksum, e.fileCrc);
  EXPECT_EQ(session.RemainingOutput, 0);
}

TEST_F(DataIo, TestRunChecksumsAndReportsProgressWithoutAFile) {
  const Bytes content = Content(70000);
  OpenSingle(StoredEntry("f", content));
  std::vector<float> progress;
  host.onProgress = [&] { progress.push_back(job.FileProgress); };
  CopyStoredData(reader, session, job);
  EXPECT_EQ(~session.Checksum, Crc32Of(content));
  EXPECT_EQ(session.BytesWritten, 70000u);
  const float want[] = {0.46f, 0.92f, 1.0f};  // one message per 32,512-byte block
  ASSERT_EQ(progress.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(progress[i], want[i]);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // only v.rar
}

TEST_F(DataIo, SkipChecksumLeavesTheSumAlone) {
  OpenSingle(StoredEntry("f", Content(10)));
  session.SkipChecksum = true;
  CopyStoredData(reader, session, job);
  EXPECT_EQ(session.Checksum, 0xFFFFFFFFu);
  EXPECT_EQ(session.BytesWritten, 10u);
}

TEST_F(DataIo, AbortStopsInputAndOutput) {
  OpenSingle(StoredEntry("f", Content(10)));
  job.Abort = 2;
  std::uint8_t buffer[10];
  EXPECT_EQ(ReadPackedData(reader, job, buffer, 10), 0u);
  EXPECT_EQ(WriteUnpackedData(reader, session, job, buffer, 10), 0u);
  EXPECT_EQ(session.BytesWritten, 0u);
  EXPECT_TRUE(host.progressWindows.empty());
}

// A failed write is told once per entry and marks it; decoding goes on (a solid archive's
// later entries need the data) with the checksum over what was decoded.
TEST_F(DataIo, FailedWriteShowsTheBoxOnceAndMarksTheEntry) {
  OpenSingle(StoredEntry("f", Content(10)));
  session.TestOnly = false;
  const std::string target = Write("readonly-handle.bin", BytesOf("x"));
  session.OutputFile = File::OpenForReading(target.c_str());  // writes must fail
  const std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(WriteUnpackedData(reader, session, job, data, 4), 4u);
  EXPECT_EQ(WriteUnpackedData(reader, session, job, data, 4), 4u);
  EXPECT_EQ(host.CountBoxes("EWRITE,WRITE_ERROR"), 1);
  EXPECT_EQ(host.boxes[0].title, "FATAL");
  EXPECT_EQ(host.boxes[0].owner, nullptr);
  EXPECT_EQ(host.boxes[0].style, 0u);
  EXPECT_TRUE(session.WriteFailed);
  EXPECT_FALSE(session.DiskFull);
  EXPECT_EQ(job.Abort.load(), kRunning);
  EXPECT_EQ(session.Checksum, UpdateCrc32(UpdateCrc32(0xFFFFFFFFu, data, 4), data, 4));
}

}  // namespace
}  // namespace korvane::testing
