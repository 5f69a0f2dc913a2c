// The command-line tool as a user runs it: exit codes, messages, and what `korvane pack`
// writes read back by the tool's own reading commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <unistd.h>

#include "tests/support/corpus.h"

namespace {
namespace fs = std::filesystem;
using korvane::testing::TempDir;

struct ToolRun {
  int Status = -1;
  std::string Output;  // stdout and stderr together
};

// asNobody runs the tool as an ordinary user (the tests may run as root, who reads anything).
ToolRun RunTool(const std::string& args, bool asNobody = false) {
  ToolRun r;
  const std::string command = std::string(asNobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
                              "'" + KORVANE_TOOL + "' " + args + " 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) r.Output += buffer.data();
  const int status = pclose(pipe);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

void MakePayload(const fs::path& root) {
  fs::create_directories(root / "docs and notes" / "empty dir");
  std::ofstream(root / "docs and notes" / "read me.txt") << "Korvane test payload\r\n";
  std::ofstream blob(root / "blob.bin", std::ios::binary);
  for (int i = 0; i < 40000; ++i) blob.put(static_cast<char>(i * 7));
}


TEST(PackCommand, WritesTheRequestedNumberOfVolumes) {
  TempDir dir;
  MakePayload(dir.File("payload"));
  const ToolRun r = RunTool("pack --volume-count 9 --host-os windows --time '1998-06-13 19:58:00' " +
                        Quote(dir.File("set.rar")) + " " + Quote(dir.File("payload")));
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_NE(r.Output.find("9 volumes"), std::string::npos) << r.Output;
  EXPECT_TRUE(fs::exists(dir.File("set.r07")));
  EXPECT_FALSE(fs::exists(dir.File("set.r08")));
}

TEST(PackCommand, BadArgumentsAreClearErrorsAndLeaveNoVolume) {
  TempDir dir;
  MakePayload(dir.File("payload"));
  const struct {
    std::string Args;
    std::string Message;
    int Status;
  } cases[] = {
      {"pack " + Quote(dir.File("a.rar")) + " " + Quote(dir.File("nowhere")), "cannot find", 1},
      {"pack --volume-size 10 " + Quote(dir.File("a.rar")) + " " + Quote(dir.File("payload")), "too small", 1},
      {"pack --volume-size lots " + Quote(dir.File("a.rar")) + " " + Quote(dir.File("payload")), "bad volume size", 1},
      {"pack --host-os amiga " + Quote(dir.File("a.rar")) + " " + Quote(dir.File("payload")), "windows or unix", 1},
      {"pack --time yesterday " + Quote(dir.File("a.rar")) + " " + Quote(dir.File("payload")), "bad time", 1},
      {"pack " + Quote(dir.File("a.rar")), "usage", 2},
  };
  for (const auto& c : cases) {
    const ToolRun r = RunTool(c.Args);
    EXPECT_EQ(r.Status, c.Status) << c.Args << "\n" << r.Output;
    EXPECT_NE(r.Output.find(c.Message), std::string::npos) << c.Args << "\n" << r.Output;
    EXPECT_FALSE(fs::exists(dir.File("a.rar"))) << c.Args;
  }
}

// Round trip through the tool's reader (the packer's own tests cover the shapes of payload).
TEST(PackCommand, ListTestAndExtractReadThePackedSet) {
  TempDir dir;
  MakePayload(dir.File("payload"));
  fs::permissions(dir.File("payload") + "/docs and notes/read me.txt", fs::perms::owner_write | fs::perms::group_write |
                  fs::perms::others_write, fs::perm_options::remove);
  const ToolRun pack = RunTool("pack --host-os windows --volume-size 2000 " + Quote(dir.File("set.rar")) + " " +
                               Quote(dir.File("payload")));
  ASSERT_EQ(pack.Status, 0) << pack.Output;
  const ToolRun list = RunTool("list " + Quote(dir.File("set.rar")));
  EXPECT_EQ(list.Status, 0) << list.Output;
  for (const char* name : {"payload/blob.bin", "payload/docs and notes/read me.txt", "empty dir"})
    EXPECT_NE(list.Output.find(name), std::string::npos) << name << "\n" << list.Output;
  const ToolRun test = RunTool("test " + Quote(dir.File("set.rar")));
  EXPECT_EQ(test.Status, 0) << test.Output;

  const ToolRun extract = RunTool("extract -q -y " + Quote(dir.File("set.rar")) + " " + Quote(dir.File("out")));
  ASSERT_EQ(extract.Status, 0) << extract.Output;
  const fs::path in = dir.File("payload"), out = fs::path(dir.File("out")) / "payload";
  std::size_t compared = 0;
  for (const auto& item : fs::recursive_directory_iterator(in)) {
    const fs::path copy = out / fs::relative(item.path(), in);
    ASSERT_TRUE(fs::exists(copy)) << copy;
    if (item.is_regular_file()) {
      EXPECT_EQ(korvane::testing::ReadWholeFile(copy.string()), korvane::testing::ReadWholeFile(item.path().string()));
      const bool writable = (fs::status(copy).permissions() & fs::perms::owner_write) != fs::perms::none;
      EXPECT_EQ(writable, item.path().filename() != "read me.txt") << copy;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 2u);
  fs::permissions(in / "docs and notes" / "read me.txt", fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(out / "docs and notes" / "read me.txt", fs::perms::owner_write, fs::perm_options::add);
}

// Exit codes and messages as a user meets them: 0 all well, 1 an entry failed (and is named),
// 2 nothing to work on, said in the tool's own words (never the installer's box titles) and
// without a summary of a run that never opened an archive; an existing file survives -n.
TEST(ReadingCommands, ExitCodesAndMessagesFollowTheOutcome) {
  if (!korvane::testing::HaveCorpus()) GTEST_SKIP() << "corpus not present";
  TempDir dir;
  std::ofstream(dir.File("garbage.rar")) << "this is not an archive at all";
  std::ofstream(dir.File("secret.rar")) << "Rar!";
  fs::permissions(dir.File("secret.rar"), fs::perms::none);
  fs::create_directories(dir.File("folder.rar"));
  std::ofstream table(dir.File("table.tsv"));
  for (int row = 0; row < 100; ++row) table << "name\t" << row << "\tvalue\t" << row * 7 << "\n";
  table.close();
  // As root every file is readable; drop to an ordinary user for the unreadable case.
  const std::string asUser = geteuid() == 0 ? "--as-nobody " : "";
  const std::string rar = korvane::testing::CorpusDir() + "/rar/";
  const std::string mod = korvane::testing::CorpusDir() + "/mod/";
  const struct {
    std::string Args;
    int Status;
    std::string Mentions;  // must appear in the output, or empty
  } cases[] = {
      {"--help", 0, "commands:"},
      {"frobnicate", 2, "unknown command"},
      {"list " + Quote(rar + "dos250__SOLID.RAR"), 0, ""},
      {"list " + Quote(dir.File("garbage.rar")), 2, "korvane: not an archive: " + dir.File("garbage.rar") + "\n"},
      {"list " + Quote(dir.File("missing.rar")), 2, "korvane: cannot open archive: " + dir.File("missing.rar") + ": "},
      {"test -q " + Quote(rar + "dos1402__CMULTIV.RAR"), 0, ""},
      {"test " + Quote(rar + "dos1402__CMULTIV.RAR"), 0, "1 entry processed, 0 failed"},
      {"test -q " + Quote(rar + "fixa__rar20-password-compressed.rar"), 1, "FAILED"},
      {"test -q " + Quote(rar + "dos1402__CMULTIV.R03"), 2, ""},
      {"test " + Quote(dir.File("garbage.rar")), 2, "korvane: not an archive: " + dir.File("garbage.rar") + "\n"},
      {"test " + Quote(dir.File("missing.rar")), 2, "korvane: cannot open archive: " + dir.File("missing.rar") + ": "},
      {"extract " + Quote(dir.File("folder.rar")) + " " + Quote(dir.File("out")), 2,
       "korvane: cannot open archive: " + dir.File("folder.rar") + ": is a directory"},
      {asUser + "test " + Quote(dir.File("secret.rar")), 2, "korvane: cannot open archive: " + dir.File("secret.rar") + ": "},
      {"play --info " + Quote(dir.File("table.tsv")), 2, "korvane: not a module: " + dir.File("table.tsv") + "\n"},
      {"play --info " + Quote(rar + "dos250__SOLID.RAR"), 2, "korvane: not a module: "},
      {"play --info " + Quote(mod + "libxmp__cant.mod"), 0, "15"},
      {"extract", 2, "usage"},
  };
  for (const auto& c : cases) {
    const ToolRun run = c.Args.rfind("--as-nobody ", 0) == 0 ? RunTool(c.Args.substr(12), true) : RunTool(c.Args);
    EXPECT_EQ(run.Status, c.Status) << c.Args << "\n" << run.Output;
    EXPECT_NE(run.Output.find(c.Mentions), std::string::npos) << c.Args << "\n" << run.Output;
    for (const char* leaked : {"Zendril", "Korvane 9", "FATAL"})
      EXPECT_EQ(run.Output.find(leaked), std::string::npos) << c.Args << "\n" << run.Output;
    if (c.Status == 2) {
      EXPECT_EQ(run.Output.find(" processed, "), std::string::npos) << c.Args << "\n" << run.Output;
    }
  }

  const ToolRun first = RunTool("extract -q -y " + Quote(rar + "dos250__SOLID.RAR") + " " + Quote(dir.File("out")));
  ASSERT_EQ(first.Status, 0) << first.Output;
  fs::path kept;
  for (const auto& item : fs::recursive_directory_iterator(dir.File("out")))
    if (item.is_regular_file()) kept = item.path();
  ASSERT_FALSE(kept.empty());
  std::ofstream(kept, std::ios::trunc) << "mine";
  const ToolRun again = RunTool("extract -q -n " + Quote(rar + "dos250__SOLID.RAR") + " " + Quote(dir.File("out")));
  EXPECT_EQ(korvane::testing::ReadWholeFile(kept.string()), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'})) << again.Output;
}

void WriteBytes(const fs::path& p, std::size_t size, unsigned seed) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 31 + seed * 17 + (i >> 9)) & 0xFF));
}

// The bar measures the whole run by archive bytes: a single volume of many small files moves it
// through many percentages, in order, instead of leaving it at 0% until the end.
TEST(ReadingCommands, ProgressMovesWithTheBytesOfASingleVolume) {
  TempDir dir;
  for (int i = 0; i < 300; ++i) WriteBytes(fs::path(dir.File("many")) / ("f" + std::to_string(i) + ".bin"), 9000, i);
  ASSERT_EQ(RunTool("pack " + Quote(dir.File("one.rar")) + " " + Quote(dir.File("many"))).Status, 0);
  const ToolRun run = RunTool("test --progress " + Quote(dir.File("one.rar")));
  ASSERT_EQ(run.Status, 0) << run.Output;
  std::vector<int> shown;
  for (std::size_t at = run.Output.find("] "); at != std::string::npos; at = run.Output.find("] ", at + 1))
    shown.push_back(std::atoi(run.Output.c_str() + at + 2));
  ASSERT_FALSE(shown.empty()) << run.Output;
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << run.Output;
  const std::set<int> between(std::upper_bound(shown.begin(), shown.end(), 0),
                              std::lower_bound(shown.begin(), shown.end(), 100));
  EXPECT_GE(between.size(), 10u) << run.Output;
}

// A real small disk (a 1 MiB tmpfs, so only as root): extract refuses to start when the files
// need more than the free space; forced (-f), it stops at the first file that does not fit,
// says so in one line, deletes that file and exits 1.
TEST(ReadingCommands, TooLittleSpaceIsRefusedAndAFullDiskStopsTheRun) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  TempDir dir;
  for (int i = 0; i < 6; ++i) WriteBytes(fs::path(dir.File("big")) / ("part" + std::to_string(i) + ".bin"), 400000, i);
  ASSERT_EQ(RunTool("pack " + Quote(dir.File("big.rar")) + " " + Quote(dir.File("big"))).Status, 0);
  const std::string mount = dir.File("small");
  fs::create_directories(mount);
  if (std::system(("mount -t tmpfs -o size=1m tmpfs " + Quote(mount) + " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "tmpfs cannot be mounted here";
  const ToolRun refused = RunTool("extract -q " + Quote(dir.File("big.rar")) + " " + Quote(mount));
  const bool emptyAfterRefusal = fs::is_empty(mount);
  const ToolRun run = RunTool("extract -q -f " + Quote(dir.File("big.rar")) + " " + Quote(mount));
  std::vector<fs::path> left;
  for (const auto& item : fs::recursive_directory_iterator(mount))
    if (item.is_regular_file()) left.push_back(item.path());
  EXPECT_EQ(std::system(("umount " + Quote(mount)).c_str()), 0);
  EXPECT_EQ(refused.Status, 1) << refused.Output;
  EXPECT_EQ(refused.Output, "korvane: not enough space at " + mount + "/: 3 MB needed, 1 MB free (-f extracts anyway)\n");
  EXPECT_TRUE(emptyAfterRefusal);
  EXPECT_EQ(run.Status, 1) << run.Output;
  EXPECT_EQ(run.Output.rfind("korvane: disk full while writing " + mount + "/big/part2.bin; stopped\n", 0), 0u)
      << run.Output;
  EXPECT_EQ(std::count(run.Output.begin(), run.Output.end(), '\n'), 1) << run.Output;
  EXPECT_EQ(left.size(), 2u);  // two whole files; the third was deleted
}

// Names from DOS and Windows archives are OEM code page bytes: shown and created as UTF-8, from
// cp437 unless --charset says otherwise; names from Unix archives stay as they are.
TEST(ReadingCommands, OldCodePageNamesBecomeUtf8) {
  TempDir dir;
  const std::string dosName = "\xe2\xa5\xe1\xe2.txt";  // "test" in Cyrillic, as cp866 writes it
  WriteBytes(fs::path(dir.File("in")) / dosName, 10, 1);
  ASSERT_EQ(RunTool("pack --host-os windows " + Quote(dir.File("dos.rar")) + " " + Quote(dir.File("in"))).Status, 0);
  ASSERT_EQ(RunTool("pack --host-os unix " + Quote(dir.File("unix.rar")) + " " + Quote(dir.File("in"))).Status, 0);
  const std::string cyrillic = "\xd1\x82\xd0\xb5\xd1\x81\xd1\x82.txt", box = "\xce\x93\xc3\x91\xc3\x9f\xce\x93.txt";
  const struct {
    std::string Args;
    std::string Shows;
  } cases[] = {
      {"list --charset cp866 " + Quote(dir.File("dos.rar")), "in/" + cyrillic},
      {"list " + Quote(dir.File("dos.rar")), "in/" + box},
      {"list --charset cp866 " + Quote(dir.File("unix.rar")), "in/\\xe2\\xa5\\xe1\\xe2.txt"},
      {"test --charset CP866 " + Quote(dir.File("dos.rar")), "OK   in/" + cyrillic},
      {"list --charset klingon " + Quote(dir.File("dos.rar")), "korvane: unknown charset: klingon"},
  };
  for (const auto& c : cases) EXPECT_NE(RunTool(c.Args).Output.find(c.Shows), std::string::npos) << c.Args;
  ASSERT_EQ(RunTool("extract -q --charset cp866 " + Quote(dir.File("dos.rar")) + " " + Quote(dir.File("out"))).Status, 0);
  EXPECT_TRUE(fs::exists(fs::path(dir.File("out")) / "in" / cyrillic));
}

}  // namespace
