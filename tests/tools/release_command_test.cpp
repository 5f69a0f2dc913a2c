// korvane release as a packager runs it: a stamped installer whose resources read back as the
// release folder's, volumes the tool's reader accepts, the same bytes on every run, and every
// refusal made before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "tests/support/corpus.h"
#include "tests/tools/tool_run.h"
#include "tools/release/pe_resources.h"
#include "ui/pcx.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;
using release::Resource;
using Bytes = std::vector<std::uint8_t>;

// The fastest level: what is tested here is the release, not the packer.
const char kTime[] = " -m1 --time '1998-06-13 19:58:00' ";
#ifdef KORVANE_STUB
const bool kHaveStub = true;
#else
const bool kHaveStub = false;
#define KORVANE_STUB ""
#endif

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A release folder: the project's assets with a name, caption and notes of its own.
fs::path MakeSource(TempDir& dir) {
  const fs::path source = dir.File("src");
  fs::copy(fs::path(KORVANE_SOURCE_DIR) / "assets", source, fs::copy_options::recursive);
  EXPECT_TRUE(WriteWholeFile((source / "archive-name.txt").string(), Text("mygame.rar\n")));
  EXPECT_TRUE(WriteWholeFile((source / "caption.txt").string(), Text("My own game, 1999\n")));
  EXPECT_TRUE(WriteWholeFile((source / "korvane.nfo").string(), Text("notes\nof mine\n")));
  return source;
}

std::vector<Resource> ResourcesOf(const std::string& file) {
  std::vector<Resource> out;
  std::string error;
  EXPECT_TRUE(release::ReadResources(ReadWholeFile(file), &out, &error)) << file << ": " << error;
  return out;
}

const Bytes* Find(const std::vector<Resource>& resources, std::uint16_t type, std::uint16_t id) {
  for (const Resource& r : resources)
    if (r.type == type && r.id == id) return &r.data;
  return nullptr;
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ReleaseCommand, TheInstallerCarriesTheFolderAndTheVolumesTestClean) {
  if (!kHaveStub) GTEST_SKIP() << "this build has no installer stub (KORVANE_STUB=OFF)";
  TempDir dir;
  const fs::path source = MakeSource(dir), out = dir.File("out"), again = dir.File("again");
  const std::string args = std::string(kTime) + "--volume-size 200k " + Quote(source.string()) + " ";
  const ToolRun run = RunTool("release -q" + args + Quote(out.string()));
  ASSERT_EQ(run.Status, 0) << run.Output;

  std::vector<std::string> expected = {"korvane.nfo", "mygame.exe", "mygame.rar"};
  const std::size_t volumes = Listing(out).size() - 2;
  for (std::size_t v = 0; v + 1 < volumes; ++v) expected.push_back("mygame.r" + std::string(v < 10 ? "0" : "") + std::to_string(v));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(out), expected);  // and nothing half-made beside them
  ASSERT_GT(volumes, 1u);

  const std::vector<Resource> stamped = ResourcesOf((out / "mygame.exe").string()), stub = ResourcesOf(KORVANE_STUB);
  char count[3];
  std::snprintf(count, sizeof count, "%02zu", volumes);
  Bytes caption = Text("My own game, 1999~~");
  caption.resize(528, 0);
  const struct {
    std::uint16_t Id;
    Bytes Data;
  } own[] = {{140, Text("mygame.rar      ")}, {141, Text(count)}, {142, caption},
             {143, ReadWholeFile((source / "main.pcx").string())}, {144, ReadWholeFile((source / "progress.pcx").string())},
             {145, ReadWholeFile((source / "korvane.mod").string())}};
  for (const auto& [id, data] : own) {
    const Bytes* found = Find(stamped, release::kResourceData, id);
    EXPECT_TRUE(found != nullptr && *found == data) << "RCDATA " << id;
  }
  // Everything else of the stub is there as it was: dialogs, menu, icons, version, manifest.
  for (const Resource& r : stub) {
    if (r.type == release::kResourceData && r.id >= 140 && r.id <= 145) continue;
    const Bytes* found = Find(stamped, r.type, r.id);
    EXPECT_TRUE(found != nullptr && *found == r.data) << "type " << r.type << " id " << r.id;
  }
  EXPECT_EQ(ReadWholeFile((out / "korvane.nfo").string()), Text("notes\r\nof mine\r\n"));
  const ToolRun test = RunTool("test " + Quote((out / "mygame.rar").string()));
  EXPECT_EQ(test.Status, 0) << test.Output;

  // The same inputs give the same bytes.
  ASSERT_EQ(RunTool("release -q" + args + Quote(again.string())).Status, 0);
  for (const std::string& name : expected)
    EXPECT_EQ(ReadWholeFile((out / name).string()), ReadWholeFile((again / name).string())) << name;
}

// Each row spoils one thing; the run exits 2 with a message that names it and leaves OUTDIR as
// it was (absent, or holding only what was there).
TEST(ReleaseCommand, EveryRefusalComesBeforeAnythingIsWritten) {
  if (!kHaveStub) GTEST_SKIP() << "this build has no installer stub (KORVANE_STUB=OFF)";
  TempDir dir;
  const fs::path source = MakeSource(dir), broken = dir.File("broken"), out = dir.File("out");
  fs::copy(source, broken, fs::copy_options::recursive);
  fs::remove(broken / "korvane.mod");
  EXPECT_TRUE(WriteWholeFile((broken / "archive-name.txt").string(), Text("far-too-long-name.rar")));
  EXPECT_TRUE(WriteWholeFile(dir.File("not-a-stub.exe"), Text("MZ but nothing else")));
  const std::string src = Quote(source.string()) + " " + Quote(out.string());
  const struct {
    const char* What;
    std::string Args;
    std::vector<const char*> Says;
  } rows[] = {
      {"broken inputs, all named", Quote(broken.string()) + " " + Quote(out.string()),
       {"korvane.mod: is missing", "archive-name.txt: 'far-too-long-name.rar' is longer"}},
      {"a stub that is not there", "--stub /nonexistent/korvane.exe " + src, {"/nonexistent/korvane.exe: no such file"}},
      {"a stub that is no program", "--stub " + Quote(dir.File("not-a-stub.exe")) + " " + src,
       {"cannot be read as a Windows program"}},
      {"too many volumes asked", "--volumes 100 " + src, {"--volumes needs a count from 1 to 99"}},
      {"a payload beyond 99 volumes", "--volume-size 2k " + src, {"the installer counts at most 99"}},
      {"a level that is none", "-m9 " + src, {"-m takes a level from 0 to 5"}},
  };
  for (const auto& row : rows) {
    const ToolRun run = RunTool("release" + std::string(kTime) + row.Args);
    EXPECT_EQ(run.Status, 2) << row.What << "\n" << run.Output;
    for (const char* says : row.Says) EXPECT_NE(run.Output.find(says), std::string::npos) << row.What << "\n" << run.Output;
    EXPECT_FALSE(fs::exists(out)) << row.What;
  }
  // A release already there stays as it was without -f.
  fs::create_directory(out);
  EXPECT_TRUE(WriteWholeFile((out / "mygame.exe").string(), Text("mine")));
  const ToolRun run = RunTool("release" + std::string(kTime) + src);
  EXPECT_EQ(run.Status, 2) << run.Output;
  EXPECT_NE(run.Output.find("mygame.exe exists; use -f to replace it"), std::string::npos) << run.Output;
  EXPECT_EQ(Listing(out), std::vector<std::string>{"mygame.exe"});
  EXPECT_EQ(ReadWholeFile((out / "mygame.exe").string()), Text("mine"));
  EXPECT_EQ(RunTool("release -q -f" + std::string(kTime) + src).Status, 0);
  EXPECT_NE(ReadWholeFile((out / "mygame.exe").string()), Text("mine"));
}

// The colours of a PCX picture, pixel by pixel, whatever order its palette has.
std::vector<std::uint8_t> Colours(const Bytes& pcx) {
  ui::PcxPicture p;
  EXPECT_TRUE(ui::DecodePcx(pcx, p));
  std::vector<std::uint8_t> rgb;
  for (int i = 0; i < p.Width() * p.Height(); ++i)
    rgb.insert(rgb.end(), p.Palette.begin() + 3 * p.Pixels[i], p.Palette.begin() + 3 * p.Pixels[i] + 3);
  return rgb;
}

// Pictures as palette PNGs (made here by ImageMagick from the PCX files) are stamped with the
// same colours at every pixel; a true-colour PNG is refused with the way to convert it.
TEST(ReleaseCommand, PalettePngPicturesAreTakenAndTrueColourRefused) {
#ifndef KORVANE_PNG_PREVIEW
  GTEST_SKIP() << "this tool reads no PNG";
#endif
  if (!kHaveStub) GTEST_SKIP() << "this build has no installer stub (KORVANE_STUB=OFF)";
  TempDir dir;
  const fs::path source = MakeSource(dir), out = dir.File("out");
  const std::string pcx = (source / "main.pcx").string(), png = (source / "main.png").string();
  ASSERT_EQ(std::system(("convert " + Quote(pcx) + " PNG8:" + Quote(png)).c_str()), 0);
  const Bytes original = ReadWholeFile(pcx);
  fs::remove(pcx);
  const ToolRun run = RunTool("release -q" + std::string(kTime) + Quote(source.string()) + " " + Quote(out.string()));
  ASSERT_EQ(run.Status, 0) << run.Output;
  const std::vector<Resource> resources = ResourcesOf((out / "mygame.exe").string());
  const Bytes* stamped = Find(resources, release::kResourceData, 143);
  ASSERT_NE(stamped, nullptr);
  EXPECT_TRUE(Colours(*stamped) == Colours(original));

  ASSERT_EQ(std::system(("convert " + Quote(png) + " -type TrueColor PNG24:" + Quote(png)).c_str()), 0);
  const ToolRun refused = RunTool("release" + std::string(kTime) + Quote(source.string()) + " " + Quote(dir.File("no")));
  EXPECT_EQ(refused.Status, 2) << refused.Output;
  EXPECT_NE(refused.Output.find("main.png: "), std::string::npos) << refused.Output;
  EXPECT_NE(refused.Output.find("-colors 256 PNG8:"), std::string::npos) << refused.Output;
  EXPECT_FALSE(fs::exists(dir.File("no")));
}

}  // namespace
}  // namespace korvane::testing
