// The command-line tool as a user runs it: exit codes, messages, and what `korvane pack`
// writes read back by the tool's own reading commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/archive_bytes.h"
#include "tests/support/corpus.h"
#include "tests/tools/tool_run.h"

namespace {
namespace fs = std::filesystem;
using namespace korvane::testing;


void WriteBytes(const fs::path& p, std::size_t size, unsigned seed) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 31 + seed * 17 + (i >> 9)) & 0xFF));
}

// Round trip through the tool's reader at a requested number of volumes (the packer's own tests
// cover the shapes of payload): contents, empty folders and the read-only bit come back, also
// when a second run replaces the files.
TEST(PackCommand, ListTestAndExtractReadThePackedSet) {
  TempDir dir;
  const fs::path in = dir.File("payload"), out = fs::path(dir.File("out")) / "payload";
  fs::create_directories(in / "docs and notes" / "empty dir");
  std::ofstream(in / "docs and notes" / "read me.txt") << "Korvane test payload\r\n";
  WriteBytes(in / "blob.bin", 40000, 1);
  fs::permissions(in / "docs and notes" / "read me.txt", fs::perms::owner_write | fs::perms::group_write |
                  fs::perms::others_write, fs::perm_options::remove);
  const ToolRun pack = RunTool("pack --volume-count 9 --host-os windows --time '1998-06-13 19:58:00' " +
                               Quote(dir.File("set.rar")) + " " + Quote(in));
  ASSERT_EQ(pack.Status, 0) << pack.Output;
  EXPECT_NE(pack.Output.find("9 volumes"), std::string::npos) << pack.Output;
  EXPECT_TRUE(fs::exists(dir.File("set.r07")));
  EXPECT_FALSE(fs::exists(dir.File("set.r08")));
  const ToolRun list = RunTool("list " + Quote(dir.File("set.rar")));
  EXPECT_EQ(list.Status, 0) << list.Output;
  for (const char* shown : {"R....A         22         22  100% 1998-06-13 19:58:00 ", "payload/blob.bin",
                            "....D.          0          0    0% 1998-06-13 19:58:00 ", "empty dir"})
    EXPECT_NE(list.Output.find(shown), std::string::npos) << shown << "\n" << list.Output;
  EXPECT_EQ(RunTool("test " + Quote(dir.File("set.rar"))).Status, 0);
  const std::string extract = "extract -q " + Quote(dir.File("set.rar")) + " " + Quote(dir.File("out"));
  ASSERT_EQ(RunTool(extract).Status, 0);
  // Without -y an existing file is asked about once: "o" overwrites it and every later one.
  std::ofstream(out / "blob.bin") << "changed";
  std::ofstream(dir.File("answers")) << "o\n";
  const ToolRun again = RunTool(extract + " < " + Quote(dir.File("answers")));
  EXPECT_EQ(again.Status, 0) << again.Output;
  EXPECT_EQ(again.Output.find("exists;"), again.Output.rfind("exists;")) << again.Output;
  EXPECT_NE(again.Output.find("exists;"), std::string::npos) << again.Output;
  for (const fs::path rel : {"blob.bin", "docs and notes/read me.txt"}) {
    EXPECT_EQ(ReadWholeFile((out / rel).string()), ReadWholeFile((in / rel).string())) << rel;
    const bool writable = (fs::status(out / rel).permissions() & fs::perms::owner_write) != fs::perms::none;
    EXPECT_EQ(writable, rel.filename() != "read me.txt") << rel;
  }
  EXPECT_TRUE(fs::is_directory(out / "docs and notes" / "empty dir"));
}

// Exit codes and messages as a user meets them: 0 all well, 1 an entry failed (and is named),
// 2 nothing to work on, said in the tool's own words (never the installer's box titles) and
// without a summary of a run that never opened an archive; a refused pack leaves no volume.
TEST(ReadingCommands, ExitCodesAndMessagesFollowTheOutcome) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  TempDir dir;
  std::ofstream(dir.File("secret.rar")) << "Rar!";
  fs::permissions(dir.File("secret.rar"), fs::perms::none);
  fs::create_directories(dir.File("folder.rar"));
  WriteBytes(dir.File("payload/f.bin"), 5000, 2);
  const std::string rar = CorpusDir() + "/rar/", mod = CorpusDir() + "/mod/";
  const std::string garbage = rar + "MANIFEST.tsv", missing = dir.File("missing.rar"), packTo = dir.File("a.rar");
  const std::string payload = " " + Quote(packTo) + " " + Quote(dir.File("payload"));
  const struct {
    std::string Args;
    int Status;
    std::string Mentions;  // must appear in the output, or empty
    bool AsNobody = false;  // as an ordinary user: root reads every file
  } cases[] = {
      {"--help", 0, "commands:"},
      {"", 2, "commands:"},
      {"frobnicate", 2, "unknown command"},
      {"list " + Quote(rar + "dos250__SOLID.RAR"), 0, ""},
      {"list " + Quote(garbage), 2, "korvane: not an archive: " + garbage + "\n"},
      {"list " + Quote(missing), 2, "korvane: cannot open archive: " + missing + ": "},
      {"test " + Quote(rar + "dos1402__CMULTIV.RAR"), 0, "1 entry processed, 0 failed"},
      {"test -q " + Quote(rar + "fixa__rar20-password-compressed.rar"), 1, "FAILED"},
      {"test -q " + Quote(rar + "dos1402__CMULTIV.R03"), 2,
       "korvane: " + rar + "dos1402__CMULTIV.R03 is not the first volume of its set (start with " + rar +
           "dos1402__CMULTIV.RAR)\n"},
      {"extract -y " + Quote(rar + "fixc__Rar2.multi.r02") + " " + Quote(dir.File("out")), 2,
       "(start with " + rar + "fixc__Rar2.multi.rar)\n"},
      {"test -q " + Quote(rar + "fixa__bad-header-crc.rar"), 0,
       "korvane: warning: payload.txt: header checksum error\n"},
      {"test " + Quote(garbage), 2, "korvane: not an archive: " + garbage + "\n"},
      {"extract " + Quote(dir.File("folder.rar")) + " " + Quote(dir.File("out")), 2,
       "korvane: cannot open archive: " + dir.File("folder.rar") + ": is a directory"},
      {"test " + Quote(dir.File("secret.rar")), 2, "korvane: cannot open archive: " + dir.File("secret.rar") + ": ",
       geteuid() == 0},
      // A text long enough to be read as a module's header.
      {"play --info " + Quote(rar + "MANIFEST.tsv"), 2, "korvane: not a module: " + rar + "MANIFEST.tsv\n"},
      {"play --info " + Quote(rar + "dos250__SOLID.RAR"), 2, "korvane: not a module: "},
      {"play --info " + Quote(mod + "libxmp__cant.mod"), 0, "15"},
      {"extract", 2, "usage"},
      {"pack " + Quote(packTo) + " " + Quote(dir.File("nowhere")), 1, "cannot find"},
      {"pack --volume-size 10" + payload, 1, "too small"},
      {"pack --volume-count 100000" + payload, 1, "no volume size gives exactly 100000 volumes"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunTool(c.Args, c.AsNobody);
    EXPECT_EQ(run.Status, c.Status) << c.Args << "\n" << run.Output;
    EXPECT_NE(run.Output.find(c.Mentions), std::string::npos) << c.Args << "\n" << run.Output;
    for (const char* leaked : {"Zendril", "Korvane 9", "FATAL"})
      EXPECT_EQ(run.Output.find(leaked), std::string::npos) << c.Args << "\n" << run.Output;
    if (c.Status == 2) {
      EXPECT_EQ(run.Output.find(" processed, "), std::string::npos) << c.Args << "\n" << run.Output;
    }
    EXPECT_FALSE(fs::exists(packTo)) << c.Args;
  }
}

// Damage named as the user needs it, each a failure (exit 1) even when nothing else was
// processed: the volume that ends too soon, once (here a middle one, inside the data of the
// entry that spans it), and a stored entry whose sizes differ; neither as a checksum error.
TEST(ReadingCommands, CutVolumesAndDamagedEntriesAreNamed) {
  TempDir dir;
  std::vector<Bytes> set =
      StoredVolumeSet({{"big.bin", Bytes(9000, 'b'), {3000, 6000}}, {"after.txt", BytesOf("a"), {}}});
  set[1].resize(set[1].size() - 1000);
  for (std::size_t i = 0; i < set.size(); ++i) ASSERT_TRUE(WriteWholeFile(dir.File(VolumeFileName("set", i)), set[i]));
  EntrySpec claims = StoredEntry("claims4000.txt", BytesOf("0123456789"));
  claims.UnpSize = 4000;
  ASSERT_TRUE(WriteWholeFile(dir.File("sizes.rar"), ArchiveWriter().Main().File(claims).Data()));
  const Bytes one = ArchiveWriter().Main().File(StoredEntry("x.txt", BytesOf("x"))).Data();
  ASSERT_TRUE(WriteWholeFile(dir.File("cut.rar"), Bytes(one.begin(), one.begin() + 30)));
  const std::pair<std::string, std::string> cases[] = {
      {"set.rar", "korvane: " + dir.File("set.r00") + ": unexpected end of archive\n"},
      {"sizes.rar", "korvane: FAILED claims4000.txt: damaged (sizes do not match)\n"},
      {"cut.rar", "korvane: " + dir.File("cut.rar") + ": unexpected end of archive\n"}};
  for (const auto& [archive, line] : cases) {
    const ToolRun run = RunTool("test " + Quote(dir.File(archive)));
    EXPECT_EQ(run.Status, 1) << run.Output;
    EXPECT_NE(run.Output.find(line), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find(line), run.Output.rfind(line)) << run.Output;
    EXPECT_EQ(run.Output.find("checksum error"), std::string::npos) << run.Output;
  }
}

// Usage errors name the flag on stderr and exit 2 before anything is read or written; an
// existing archive or volume is refused the same way unless -f; `--` ends the options.
TEST(PackCommand, UsageErrorsAndExistingFilesExitTwoAndWriteNothing) {
  TempDir dir;
  WriteBytes(dir.File("payload/f.bin"), 20000, 3);
  const std::string packTo = dir.File("a.rar"), payload = " " + Quote(dir.File("a.rar")) + " " +
                                                           Quote(dir.File("payload"));
  const std::pair<std::string, std::string> cases[] = {
      {"-x" + payload, "unknown option '-x'"},
      {"--volume-size -5" + payload, "--volume-size needs a positive size, not '-5'"},
      {"--volume-size 0" + payload, "--volume-size"},
      {"--volume-size abc" + payload, "--volume-size"},
      {"--volume-size ' 5'" + payload, "--volume-size"},
      {"--volume-size 99999999999999999999" + payload, "--volume-size"},
      {"--volume-count -3" + payload, "--volume-count needs a count"},
      {"--volume-count 0" + payload, "--volume-count"},
      {"--volume-count 2k" + payload, "--volume-count"},
      {"--host-os amiga" + payload, "--host-os must be msdos, windows or unix"},
      {"--time yesterday" + payload, "--time needs"},
      {"--host-os msdos --charset klingon" + payload, "unknown charset 'klingon'"},
      {"--charset cp850" + payload, "--charset goes with --host-os msdos or windows"},
      {payload + " --volume-size", "--volume-size needs a value"},
      {Quote(packTo), "PATH missing"},
  };
  for (const auto& [args, mentions] : cases) {
    const ToolRun run = RunTool("pack " + args + " 2>&1 >/dev/null");
    EXPECT_EQ(run.Status, 2) << args << "\n" << run.Output;
    EXPECT_NE(run.Output.find(mentions), std::string::npos) << args << "\n" << run.Output;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1) << args;
  }

  // An existing archive, then an existing later volume of the set the run would write.
  std::ofstream(packTo) << "keep me";
  const ToolRun refused = RunTool("pack" + payload);
  EXPECT_EQ(refused.Status, 2);
  EXPECT_EQ(refused.Output, "korvane: " + packTo + " exists; use -f to replace it\n");
  EXPECT_EQ(ReadWholeFile(packTo).size(), 7u);
  std::ofstream(dir.File("b.r01")) << "keep me too";
  const ToolRun volume =
      RunTool("pack --volume-count 3 " + Quote(dir.File("b.rar")) + " " + Quote(dir.File("payload")));
  EXPECT_EQ(volume.Status, 2);
  EXPECT_EQ(volume.Output, "korvane: " + dir.File("b.r01") + " exists; use -f to replace it\n");
  EXPECT_EQ(ReadWholeFile(dir.File("b.r01")).size(), 11u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 3) << "no packed data left behind";
  ASSERT_EQ(RunTool("pack -q -f -- " + Quote(packTo) + " " + Quote(dir.File("payload"))).Status, 0);
  EXPECT_EQ(RunTool("test -q " + Quote(packTo)).Status, 0);

  // After `--` a name that starts with '-' is the archive's.
  const ToolRun dashed = RunTool("pack -q -- -odd.rar " + Quote(dir.File("payload")) + " && ls", false, dir.Path());
  EXPECT_EQ(dashed.Status, 0) << dashed.Output;
  EXPECT_NE(dashed.Output.find("-odd.rar\n"), std::string::npos) << dashed.Output;
  EXPECT_EQ(dashed.Output.find("--"), std::string::npos) << dashed.Output;
}

// Every command reads its command line the same way: an unknown flag or a missing operand is
// named with exit 2 before anything is read or written, --help and --version answer on stdout
// with 0, and after `--` an operand may start with '-'.
TEST(EveryCommand, ReadsItsCommandLineTheSameWay) {
  TempDir dir;
  ASSERT_TRUE(
      WriteWholeFile(dir.File("-a.rar"), ArchiveWriter().Main().File(StoredEntry("x.txt", BytesOf("x"))).Data()));
  std::ofstream(dir.File("-song.mod")) << std::string(2000, 'z');
  WriteBytes(dir.File("payload/f.bin"), 100, 4);
  const struct {
    std::string Command, Options, Operands;
    int Status;  // of the run with `--`
    std::string Mentions;
  } commands[] = {
      {"list", "", "-a.rar", 0, "x.txt"},
      {"test", "-v", "-a.rar", 0, "OK   x.txt"},
      {"extract", "-q", "-a.rar -out", 0, ""},
      {"pack", "-q -m0", "-new.rar payload", 0, ""},
      {"play", "--info", "-song.mod", 2, "korvane: not a module: -song.mod\n"},
  };
  const auto entries = [&] { return std::distance(fs::directory_iterator(dir.Path()), {}); };
  for (const auto& c : commands) {
    SCOPED_TRACE(c.Command);
    const auto before = entries();
    const ToolRun unknown = RunTool(c.Command + " -x " + c.Operands, false, dir.Path());
    EXPECT_EQ(unknown.Status, 2) << unknown.Output;
    EXPECT_EQ(unknown.Output.rfind("korvane " + c.Command + ": unknown option '-x' (see korvane " + c.Command +
                                   " --help)\nusage: korvane " + c.Command + " ", 0), 0u) << unknown.Output;
    const ToolRun missing = RunTool(c.Command + " " + c.Options, false, dir.Path());
    EXPECT_EQ(missing.Status, 2) << missing.Output;
    EXPECT_NE(missing.Output.find(" missing (see korvane " + c.Command + " --help)"), std::string::npos)
        << missing.Output;
    EXPECT_EQ(entries(), before) << "a refused command line wrote something";

    const ToolRun help = RunTool(c.Command + " " + c.Options + " --help 2>/dev/null", false, dir.Path());
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Output.rfind("usage: korvane " + c.Command + " ", 0), 0u) << help.Output;
    EXPECT_NE(help.Output.find("exit "), std::string::npos) << help.Output;
    const ToolRun version = RunTool(c.Command + " --version 2>/dev/null", false, dir.Path());
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Output, "korvane " + c.Command + " 1.0\n");

    const ToolRun dashed = RunTool(c.Command + " " + c.Options + " -- " + c.Operands, false, dir.Path());
    EXPECT_EQ(dashed.Status, c.Status) << dashed.Output;
    EXPECT_NE(dashed.Output.find(c.Mentions), std::string::npos) << dashed.Output;
    EXPECT_EQ(dashed.Output.find("unknown option"), std::string::npos) << dashed.Output;
  }
  EXPECT_EQ(ReadWholeFile(dir.File("-out/x.txt")), BytesOf("x"));
  EXPECT_TRUE(fs::exists(dir.File("-new.rar")));
  const ToolRun tool = RunTool("-x list");
  EXPECT_EQ(tool.Status, 2);
  EXPECT_NE(tool.Output.find("korvane: unknown option '-x' (see korvane --help)"), std::string::npos) << tool.Output;
  EXPECT_EQ(RunTool("--version").Output, "korvane 1.0\n");
}

// A signal while packing removes the packed data and exits 128 + the signal, as shells report
// a process the signal ended; the archive never appears.
TEST(PackCommand, SignalsLeaveNothingBehind) {
  TempDir dir;
  WriteBytes(dir.File("big/a.bin"), 24 << 20, 5);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execl(KORVANE_TOOL, "korvane", "pack", "-q", "-m5", dir.File("s.rar").c_str(), dir.File("big").c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int wait = 0; wait < 2000 && !fs::exists(dir.File("s.rar.packing")); ++wait) usleep(5000);
    EXPECT_TRUE(fs::exists(dir.File("s.rar.packing"))) << "the run never started packing";
    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << signal << " without cleaning up";
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1) << "after signal " << signal;
  }
}

// Links inside the packed paths are followed; one that leads outside is left out with a warning
// (and counted), unless -L; one to a folder it lies in is always left out.
TEST(PackCommand, LinksOutsideThePackedPathsAreLeftOutUnlessAsked) {
  TempDir dir;
  const fs::path in = dir.File("in");
  WriteBytes(in / "inside.bin", 300, 1);
  WriteBytes(dir.File("outside.bin"), 400, 2);
  fs::create_symlink(in / "inside.bin", in / "to inside");
  fs::create_symlink(dir.File("outside.bin"), in / "to outside");
  fs::create_directory_symlink(in, in / "loop");
  const ToolRun run = RunTool("pack -m0 " + Quote(dir.File("a.rar")) + " " + Quote(in.string()));
  EXPECT_EQ(run.Status, 0) << run.Output;
  for (const fs::path& left : {in / "to outside", in / "loop"})
    EXPECT_NE(run.Output.find("warning: left out the link '" + left.string() + "'"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("2 links left out"), std::string::npos) << run.Output;
  const ToolRun list = RunTool("list " + Quote(dir.File("a.rar")));
  EXPECT_NE(list.Output.find("in/to inside"), std::string::npos) << list.Output;
  EXPECT_EQ(list.Output.find("to outside"), std::string::npos) << list.Output;
  EXPECT_EQ(list.Output.find("loop"), std::string::npos) << list.Output;

  ASSERT_EQ(RunTool("pack -q -m0 -L " + Quote(dir.File("all.rar")) + " " + Quote(in.string())).Status, 0);
  ASSERT_EQ(RunTool("extract -q " + Quote(dir.File("all.rar")) + " " + Quote(dir.File("out"))).Status, 0);
  EXPECT_EQ(ReadWholeFile(dir.File("out/in/to outside")), ReadWholeFile(dir.File("outside.bin")));
  EXPECT_FALSE(fs::exists(dir.File("out/in/loop")));
}

// DOS and Windows names go into their code page; a name it cannot hold, or a Unix name with a
// backslash, is refused by name with nothing written.
TEST(PackCommand, NamesAreStoredInTheHostsCodePage) {
  TempDir dir;
  WriteBytes(fs::path(dir.File("in")) / "caf\xc3\xa9.txt", 10, 1);
  const std::pair<std::string, std::string> stored[] = {
      {"--host-os msdos", "list"},  // cp437 both ways by default
      {"--host-os windows", "list --charset cp1252"},
      {"--host-os msdos --charset cp850", "list --charset cp850"},
      {"--host-os unix", "list"},
  };
  for (const auto& [host, list] : stored) {
    const std::string archive = dir.File("names.rar");
    ASSERT_EQ(RunTool("pack -q -f " + host + " " + Quote(archive) + " " + Quote(dir.File("in"))).Status, 0) << host;
    EXPECT_NE(RunTool(list + " " + Quote(archive)).Output.find("in/caf\xc3\xa9.txt"), std::string::npos) << host;
  }
  fs::remove(dir.File("names.rar"));

  WriteBytes(fs::path(dir.File("in")) / "\xe6\x97\xa5\xe6\x9c\xac.txt", 10, 2);  // two kanji
  const ToolRun kanji = RunTool("pack --host-os windows " + Quote(dir.File("k.rar")) + " " + Quote(dir.File("in")));
  EXPECT_EQ(kanji.Status, 1);
  EXPECT_NE(kanji.Output.find("cannot store '" + dir.File("in") + "/\xe6\x97\xa5\xe6\x9c\xac.txt'"),
            std::string::npos) << kanji.Output;
  EXPECT_NE(kanji.Output.find("--host-os unix"), std::string::npos) << kanji.Output;
  fs::remove(fs::path(dir.File("in")) / "\xe6\x97\xa5\xe6\x9c\xac.txt");

  WriteBytes(fs::path(dir.File("in")) / "back\\slash.txt", 10, 3);
  const ToolRun slash = RunTool("pack --host-os unix " + Quote(dir.File("s.rar")) + " " + Quote(dir.File("in")));
  EXPECT_EQ(slash.Status, 1);
  EXPECT_NE(slash.Output.find("cannot store '" + dir.File("in") + "/back\\slash.txt'"), std::string::npos)
      << slash.Output;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1) << "only the input folder";
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
  for (std::size_t at = run.Output.find("] "); at >= 20 && at != std::string::npos; at = run.Output.find("] ", at + 1)) {
    shown.push_back(std::atoi(run.Output.c_str() + at + 2));
    EXPECT_EQ(std::count(run.Output.begin() + at - 20, run.Output.begin() + at, '#'), shown.back() / 5);  // a # a 5%
  }
  ASSERT_FALSE(shown.empty()) << run.Output;
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << run.Output;
  const std::set<int> between(std::upper_bound(shown.begin(), shown.end(), 0),
                              std::lower_bound(shown.begin(), shown.end(), 100));
  EXPECT_GE(between.size(), 10u) << run.Output;
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
  const std::pair<std::string, std::string> cases[] = {
      {"list --charset cp866 " + Quote(dir.File("dos.rar")), "in/" + cyrillic},
      {"list " + Quote(dir.File("dos.rar")), "in/" + box},
      {"list --charset cp866 " + Quote(dir.File("unix.rar")), "in/\\xe2\\xa5\\xe1\\xe2.txt"},
      {"test --charset CP866 " + Quote(dir.File("dos.rar")), "OK   in/" + cyrillic},
      {"list --charset klingon " + Quote(dir.File("dos.rar")), "korvane: unknown charset: klingon"},
  };
  for (const auto& [args, shows] : cases) EXPECT_NE(RunTool(args).Output.find(shows), std::string::npos) << args;
  ASSERT_EQ(RunTool("extract -q --charset cp866 " + Quote(dir.File("dos.rar")) + " " + Quote(dir.File("out"))).Status, 0);
  EXPECT_TRUE(fs::exists(fs::path(dir.File("out")) / "in" / cyrillic));
}

}  // namespace

// A signal while a file is being written: the file that was there keeps its bytes, no temporary
// file is left, and the exit code names the signal. The entry goes on in a second volume that is
// a FIFO, so the tool waits there, inside the entry, for as long as the test needs.
TEST(ExtractCommand, ASignalMidFileLosesNothingAndExitsWithItsCode) {
  TempDir dir;
  Bytes content(100000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  ASSERT_TRUE(WriteWholeFile(dir.File("a.rar"), StoredVolumeSet({{"victim.txt", content, {60000}}})[0]));
  ASSERT_EQ(mkfifo(dir.File("a.r00").c_str(), 0600), 0);
  const fs::path dest = dir.File("dest");
  for (const auto& [signal, code] : {std::pair(SIGINT, 130), std::pair(SIGTERM, 143), std::pair(SIGHUP, 129)}) {
    SCOPED_TRACE(code);
    fs::create_directories(dest);
    std::ofstream(dest / "victim.txt") << "ORIGINAL";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "w", stderr);
      execl(KORVANE_TOOL, "korvane", "extract", "-y", "-f", "-q", dir.File("a.rar").c_str(), dest.c_str(), nullptr);
      _exit(127);
    }
    auto writing = [&] {
      for (const auto& e : fs::directory_iterator(dest))
        if (e.path().filename().string().rfind("~kv", 0) == 0) return true;
      return false;
    };
    for (int i = 0; i < 1000 && !writing(); ++i) usleep(10000);
    EXPECT_TRUE(writing());
    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), code);
    EXPECT_EQ(ReadWholeFile((dest / "victim.txt").string()), BytesOf("ORIGINAL"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dest), {}), 1);
  }
}
