// What an installation may never do on a bad day: lose a file that was there before, leave a
// temporary file behind, or write through a link it did not make. Also the undo of an install,
// and the permissions and folder times it restores.
#include <ctime>
#include <filesystem>
#include <functional>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "engine/status.h"
#include "platform/disk_space.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

Bytes Pattern(std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
  return b;
}

// Each way an entry can fail after its output was begun (or before) leaves the old file as it
// was, byte for byte and read-only or not, and no temporary file.
TEST_F(Extraction, AnyFailureLeavesTheFileThatWasThereAndNoTemporaryFile) {
  const Bytes original = BytesOf("ORIGINAL"), content = Pattern(70000);
  const auto single = [&](std::function<void(EntrySpec&)> damage) {
    return [this, &content, damage] {
      EntrySpec e = StoredEntry("victim.txt", content);
      damage(e);
      Write("a.rar", Archive({e}));
    };
  };
  int progress = 0;
  const struct {
    const char* What;
    std::function<void()> Prepare;
  } cases[] = {
      {"checksum error", single([](EntrySpec& e) { e.FileCrc ^= 1; })},
      {"encrypted", single([](EntrySpec& e) { e.Flags = 0x04, e.FileCrc ^= 1; })},
      {"unknown version", single([](EntrySpec& e) { e.UnpVer = 29; })},
      {"full disk", [&] { single([](EntrySpec&) {})(), SimulateFreeSpaceForTests(1000); }},
      {"abort", [&] { single([](EntrySpec&) {})(), Host.OnProgress = [&] { if (++progress == 3) Job.Stop(AbortState::kUserAborted); }; }},
      {"missing volume", [&] { Write("a.rar", StoredVolumeSet({{"victim.txt", content, {40000}}})[0]); }},
      {"damaged volume", [&] {
         WriteSet("a", StoredVolumeSet({{"victim.txt", content, {40000}}}));
         Write("a.r00", BytesOf("not an archive at all"));
       }},
  };
  for (const auto& c : cases) {
    for (const bool readOnly : {false, true}) {
      SCOPED_TRACE(std::string(c.What) + (readOnly ? ", read-only" : ""));
      fs::remove_all(Dest);
      fs::create_directory(Dest);
      Write("dest/victim.txt", original);
      if (readOnly) fs::permissions(InDest("victim.txt"), fs::perms::owner_write, fs::perm_options::remove);
      c.Prepare();
      RunOn("a.rar", 'X');
      SimulateFreeSpaceForTests(-1);
      Host.OnProgress = nullptr;
      progress = 0;
      EXPECT_TRUE(Job.ErrorCount > 0 || !Job.Running());
      EXPECT_EQ(ReadWholeFile(InDest("victim.txt")), original);
      EXPECT_EQ(DestTree(), std::vector<std::string>{"victim.txt"});
      fs::permissions(InDest("victim.txt"), fs::perms::owner_write, fs::perm_options::add);
    }
  }
}

// Below the destination every folder on the way must be a real one: an entry whose path passes
// through a link fails with its own status, and nothing appears where the link points. The
// destination itself may be a link.
TEST_F(Extraction, NothingIsWrittenThroughALinkBelowTheDestination) {
  const std::string outside = Dir.File("outside");
  fs::create_directory(outside);
  fs::create_directory(InDest("real"));
  std::error_code linkError;
  fs::create_directory_symlink(outside, InDest("link"), linkError);
  if (linkError) GTEST_SKIP() << "no symbolic links here: " << linkError.message();
  EntrySpec dir = StoredEntry("link\\made", {});
  dir.Attr = 0x10;
  EXPECT_EQ(RunNew({StoredEntry("link\\ESC.txt", BytesOf("escape")), StoredEntry("link\\deep\\x.txt", BytesOf("x")),
                    dir, StoredEntry("real\\ok.txt", BytesOf("ok"))},
                   'X'),
            2);  // the folder entry and ok.txt; files never created are not counted
  EXPECT_EQ(Host.Count(Status::kExtrThroughLink), 3);
  EXPECT_EQ(Job.ErrorCount, 3);
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(DestTree(), (std::vector<std::string>{"link", "real/", "real/ok.txt"}));

  // The same archive into the link itself as the destination: the user chose it.
  std::snprintf(Job.DestinationDir, sizeof Job.DestinationDir, "%s\\", InDest("link").c_str());
  EXPECT_EQ(Run(Dir.File("a.rar"), 'X'), 4);
  EXPECT_EQ(Job.ErrorCount, 0);
  EXPECT_EQ(ReadWholeFile(outside + "/link/ESC.txt"), BytesOf("escape"));
}

// With a journal, an install sets aside what it replaces: undone, the destination is again what
// it was; kept, the set-aside files are gone and the new ones stay.
TEST_F(Extraction, AnInstallIsUndoneToWhatWasThereOrKeptWithoutItsBackups) {
  Write("dest/keep.txt", BytesOf("old keep"));
  fs::create_directory(InDest("sub"));
  Write("dest/sub/Old.txt", BytesOf("old"));
  const std::vector<std::string> before = DestTree();
  EntrySpec dir = StoredEntry("newdir", {});
  dir.Attr = 0x10;
  const std::vector<EntrySpec> entries = {dir,
                                          StoredEntry("newdir\\a.txt", BytesOf("a")),
                                          StoredEntry("sub\\old.txt", BytesOf("first")),
                                          StoredEntry("SUB\\OLD.TXT", BytesOf("second")),
                                          StoredEntry("keep.txt", BytesOf("new keep")),
                                          StoredEntry("x\\y\\z.txt", BytesOf("z"))};
  InstallJournal journal;
  Job.Journal = &journal;
  journal.Begin(Dest.size() + 1);
  EXPECT_EQ(RunNew(entries, 'X'), 6);
  EXPECT_EQ(ReadWholeFile(InDest("sub/Old.txt")), BytesOf("second"));
  EXPECT_EQ(DestTree().size(), before.size() + 7);  // 3 made, 2 folders on the way, 2 set aside
  EXPECT_TRUE(journal.Undo());
  EXPECT_EQ(DestTree(), before);
  EXPECT_EQ(ReadWholeFile(InDest("sub/Old.txt")), BytesOf("old"));
  EXPECT_EQ(ReadWholeFile(InDest("keep.txt")), BytesOf("old keep"));

  journal.Begin(Dest.size() + 1);
  EXPECT_EQ(RunNew(entries, 'X'), 6);
  journal.Keep();
  EXPECT_EQ(DestTree(), (std::vector<std::string>{"keep.txt", "newdir/", "newdir/a.txt", "sub/", "sub/Old.txt", "x/",
                                                  "x/y/", "x/y/z.txt"}));
  EXPECT_EQ(ReadWholeFile(InDest("keep.txt")), BytesOf("new keep"));
}

#ifndef _WIN32
// Entries from a Unix host get their rwx bits back (never set-id or sticky bits; masked by the
// umask unless root, as tar does), others what a new file gets; a folder's time is set after its
// contents are written.
TEST_F(Extraction, UnixModesComeBackAndFolderTimesOutliveTheirContents) {
  const std::uint32_t stamp = (21u << 25) | (2u << 21) | (3u << 16) | (4u << 11) | (5u << 5) | 3u;  // 2001-02-03 04:05:06
  auto unixEntry = [&](const std::string& name, std::uint32_t mode) {
    EntrySpec e = StoredEntry(name, BytesOf(name));
    e.HostOS = 3;
    e.Attr = mode;
    e.Time = stamp;
    return e;
  };
  EntrySpec dir = unixEntry("d", 040700);
  dir.Packed.clear();
  dir.UnpSize = 0;
  dir.Flags = 0xE0;
  EXPECT_EQ(RunNew({unixEntry("run.sh", 0100755), unixEntry("secret", 0100600), unixEntry("suid", 0106775), dir,
                    unixEntry("d\\inner", 0100640), StoredEntry("dos.txt", BytesOf("dos"))},
                   'X'),
            6);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const mode_t kept = ::geteuid() == 0 ? 0777 : static_cast<mode_t>(~mask);
  const struct {
    const char* Name;
    mode_t Mode;
  } expected[] = {{"run.sh", 0755}, {"secret", 0600}, {"suid", 0775}, {"d", 0700}, {"d/inner", 0640},
                  {"dos.txt", static_cast<mode_t>(0666 & ~mask)}};
  for (const auto& e : expected) {
    struct stat st {};
    ASSERT_EQ(::stat(InDest(e.Name).c_str(), &st), 0) << e.Name;
    const mode_t want = e.Name == std::string("dos.txt") ? e.Mode : (e.Mode & kept);
    EXPECT_EQ(st.st_mode & 07777, want) << e.Name;
  }
  std::tm local{};
  local.tm_year = 101, local.tm_mon = 1, local.tm_mday = 3, local.tm_hour = 4, local.tm_min = 5, local.tm_sec = 6;
  local.tm_isdst = -1;
  struct stat st {};
  ASSERT_EQ(::stat(InDest("d").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, std::mktime(&local));
}
#endif

}  // namespace
}  // namespace korvane::testing
