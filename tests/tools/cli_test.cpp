// The command-line tool as a user runs it: exit codes, messages, and what `korvane pack`
// writes read back by the tool's own reading commands.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/corpus.h"

namespace {
namespace fs = std::filesystem;
using korvane::testing::TempDir;

struct ToolRun {
  int Status = -1;
  std::string Output;  // stdout and stderr together
};

ToolRun RunTool(const std::string& args) {
  ToolRun r;
  const std::string command = std::string("'") + KORVANE_TOOL + "' " + args + " 2>&1";
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
  for (const char* name : {"payload\\blob.bin", "read me.txt", "empty dir"})
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

// The reading commands' exit codes on real archives: 0 all well, 1 an entry failed (and is
// named), 2 nothing to work on; an existing file survives -n untouched.
TEST(ReadingCommands, ExitCodesFollowTheOutcome) {
  if (!korvane::testing::HaveCorpus()) GTEST_SKIP() << "corpus not present";
  TempDir dir;
  std::ofstream(dir.File("garbage.rar")) << "this is not an archive at all";
  const std::string rar = korvane::testing::CorpusDir() + "/rar/";
  const struct {
    std::string Args;
    int Status;
    const char* Mentions;  // must appear in the output, or nullptr
  } cases[] = {
      {"--help", 0, "commands:"},
      {"frobnicate", 2, "unknown command"},
      {"list " + Quote(rar + "dos250__SOLID.RAR"), 0, nullptr},
      {"list " + Quote(dir.File("garbage.rar")), 2, nullptr},
      {"list " + Quote(dir.File("missing.rar")), 2, nullptr},
      {"test -q " + Quote(rar + "dos1402__CMULTIV.RAR"), 0, nullptr},
      {"test -q " + Quote(rar + "fixa__rar20-password-compressed.rar"), 1, nullptr},
      {"test -q " + Quote(rar + "dos1402__CMULTIV.R03"), 2, nullptr},
      {"test -q " + Quote(dir.File("garbage.rar")), 2, nullptr},
      {"extract", 2, nullptr},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(c.Args);
    EXPECT_EQ(run.Status, c.Status) << c.Args << "\n" << run.Output;
    if (c.Mentions != nullptr) {
      EXPECT_NE(run.Output.find(c.Mentions), std::string::npos) << c.Args << "\n" << run.Output;
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

}  // namespace
