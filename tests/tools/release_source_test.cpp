// The release folder's checks: each rule refuses what the installer cannot use with a message
// that names the file and the fault, and the project's own release resources pass unchanged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/corpus.h"
#include "tools/release/pcx_writer.h"
#include "tools/release/release_source.h"
#include "ui/pcx.h"

namespace korvane::release {
namespace {

namespace fs = std::filesystem;
using korvane::testing::ReadWholeFile;
using korvane::testing::TempDir;
using korvane::testing::WriteWholeFile;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

fs::path Assets() {
  const char* source = std::getenv("KORVANE_SOURCE");
  return fs::path(source != nullptr ? source : ".") / "assets";
}
std::string Asset(const std::string& name) { return (Assets() / name).string(); }

// The first refusal's text, or "" when the check passed.
std::string Refusal(const Checked& c) {
  for (const Problem& p : c.Problems)
    if (!p.Warning) return p.File + ": " + p.What;
  return "";
}

TEST(ReleaseChecks, EachRuleRefusesWithTheFileAndTheFault) {
  const Bytes module = ReadWholeFile(Asset("korvane.mod")), main = ReadWholeFile(Asset("main.pcx")),
              progress = ReadWholeFile(Asset("progress.pcx"));
  ASSERT_FALSE(module.empty() || main.empty() || progress.empty()) << "assets/ not found from KORVANE_SOURCE";
  Bytes sixChannels = module, oneRow = module, wideLines = main, padded = main, cut = main;
  std::copy_n("6CHN", 4, sixChannels.begin() + 1080);
  oneRow[1084 + 2] = static_cast<std::uint8_t>((oneRow[1084 + 2] & 0xF0) | 0x0B);  // row 0 jumps to order 0
  oneRow[1084 + 3] = 0;
  wideLines[66] = 0x2E;  // 302 bytes per line
  padded.insert(padded.end() - 769, 7, 0);
  cut.resize(200);
  const auto picture = [](const Bytes& b) { return CheckPicture("main.pcx", b, 300, 503); };
  const struct {
    const char* Rule;
    Checked Result;
    const char* Says;  // part of the message
  } rows[] = {
      {"an empty name", CheckArchiveName(Text(" \r\n")), "archive-name.txt: is empty"},
      {"a name over 14 characters", CheckArchiveName(Text("fifteen-char.rar")), "longer than the installer's 14"},
      {"a space inside the name", CheckArchiveName(Text("my game.rar")), "character a volume name cannot hold"},
      {"a separator in the name", CheckArchiveName(Text("d/game.rar")), "character a volume name cannot hold"},
      {"another extension", CheckArchiveName(Text("game.zip")), "must be a name ending in .rar"},
      {"only an extension", CheckArchiveName(Text(".rar")), "must be a name ending in .rar"},
      {"an empty caption", CheckCaption(Text("~~ after")), "caption.txt: is empty"},
      {"a line break in the caption", CheckCaption(Text("one\ntwo")), "not printable ASCII at offset 3"},
      {"a caption too long to tick", CheckCaption(Bytes(499, 'x')), "499 characters; the title bar ticker reads at most 498"},
      {"a picture of another size", picture(progress), "main.pcx: is 428 x 322; the installer needs 300 x 503"},
      {"a cut picture", picture(cut), "not an 8-bit, one-plane, run-length PCX"},
      {"lines wider than the picture", picture(wideLines), "stores 302 bytes per line"},
      {"bytes before the palette", picture(padded), "bytes between its pixels and its palette"},
      {"not a module", CheckModule(Text(std::string(2000, 'x'))), "korvane.mod: is not a Protracker module"},
      {"six channels", CheckModule(sixChannels), "has 6CHN channels; the installer plays four-channel"},
      {"a song shorter than a second", CheckModule(oneRow), "ms before it repeats; the installer needs at least one second"},
  };
  for (const auto& row : rows) {
    const std::string refusal = Refusal(row.Result);
    EXPECT_NE(refusal.find(row.Says), std::string::npos) << row.Rule << ": " << refusal;
    EXPECT_TRUE(row.Result.Resource.empty()) << row.Rule;
  }
}

TEST(ReleaseChecks, WhatPassesBecomesTheResourceTheInstallerReads) {
  const Checked name = CheckArchiveName(Text("mygame.rar\r\n"));
  EXPECT_EQ(name.Resource, Text("mygame.rar      "));
  const Checked longest = CheckCaption(Bytes(498, 'x'));
  ASSERT_TRUE(longest.Ok());
  EXPECT_EQ(longest.Resource.size(), 528u);
  EXPECT_EQ(std::string(longest.Resource.begin() + 496, longest.Resource.begin() + 501), std::string("xx~~\0", 5));
  // A caption with its marker keeps only what comes before it; a single '~' is text.
  EXPECT_EQ(CheckCaption(Text("a~b~~junk\x01")).Resource, CheckCaption(Text("a~b\n")).Resource);
  const Bytes gap = CheckCaption(Text("gap \r\n")).Resource;  // a trailing space is kept: the gap before it comes round
  EXPECT_EQ(std::string(gap.begin(), gap.begin() + 6), "gap ~~");
  // The committed resources are already in the installer's form and pass through unchanged.
  for (const char* file : {"caption.txt", "archive-name.txt"}) {
    const Bytes committed = ReadWholeFile(Asset(file));
    const Checked c = std::string(file) == "caption.txt" ? CheckCaption(committed) : CheckArchiveName(committed);
    EXPECT_EQ(c.Resource, committed) << file;
  }
  EXPECT_EQ(CheckModule(ReadWholeFile(Asset("korvane.mod"))).Resource, ReadWholeFile(Asset("korvane.mod")));
  // Line ends: CR LF kept, any other converted with a warning.
  const Checked kept = CheckNfo(Text("a\r\nb\r\n")), mended = CheckNfo(Text("a\nb\rc\r\n"));
  EXPECT_EQ(kept.Resource, Text("a\r\nb\r\n"));
  EXPECT_TRUE(kept.Problems.empty());
  EXPECT_EQ(mended.Resource, Text("a\r\nb\r\nc\r\n"));
  ASSERT_EQ(mended.Problems.size(), 1u);
  EXPECT_TRUE(mended.Problems[0].Warning && mended.Ok());
}

// Pictures that come in as palette PNGs are written as the installer's PCX: the same pixels
// and palette come back, long runs are split and bytes of 0xC0 and up are escaped.
TEST(ReleaseChecks, WrittenPcxDecodesToTheSamePictureAndPassesItsCheck) {
  ui::PcxPicture main;
  ASSERT_TRUE(ui::DecodePcx(ReadWholeFile(Asset("main.pcx")), main));
  std::vector<std::uint8_t> indices(main.Pixels.begin(), main.Pixels.begin() + 300 * 503);
  for (std::size_t i = 0; i < 300; ++i) indices[i] = static_cast<std::uint8_t>(0xC0 + i % 2);  // no runs at all
  for (std::size_t i = 300; i < 600; ++i) indices[i] = 0xFF;                                     // one run over 63
  const Bytes written = EncodePcx(300, 503, indices, main.Palette);
  ui::PcxPicture back;
  std::size_t used = 0;
  ASSERT_TRUE(ui::DecodePcx(written, back, &used));
  EXPECT_EQ(Bytes(back.Pixels.begin(), back.Pixels.begin() + 300 * 503), indices);
  EXPECT_EQ(back.Palette, main.Palette);
  EXPECT_TRUE(CheckPicture("main.png", written, 300, 503).Ok()) << Refusal(CheckPicture("main.png", written, 300, 503));
  // With nothing below the background, no button can show the pointer or the click.
  std::fill(indices.begin() + 300 * 300, indices.end(), 0);
  const Checked blank = CheckPicture("main.pcx", EncodePcx(300, 503, indices, main.Palette), 300, 503);
  ASSERT_EQ(blank.Problems.size(), 8u);
  EXPECT_TRUE(blank.Ok());
  EXPECT_EQ(blank.Problems[1].What, "the Pressed image of the Test button (151,303 to 299,353) is one flat colour");
  EXPECT_TRUE(CheckPicture("main.pcx", ReadWholeFile(Asset("main.pcx")), 300, 503).Problems.empty());
}

TEST(ReleaseChecks, PayloadAttributesNameTheirLine) {
  std::vector<Problem> problems;
  const auto attributes =
      ParsePayloadAttributes(Text("# kept for git\n\nreadonly docs/a.txt\r\nemptydir saves\nexecute x\n"), problems);
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0].What, PayloadAttribute::Kind::kReadOnly);
  EXPECT_EQ(attributes[0].Path, "docs/a.txt");
  EXPECT_EQ(attributes[1].Path, "saves");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].What, "line 5: 'execute x' is neither 'readonly PATH' nor 'emptydir PATH'");
}

// A whole folder: the project's assets pass; each missing or broken file is one problem that
// names it, and every other file still gets its say (the attributes only with a payload).
TEST(ReleaseChecks, AFolderReportsOneProblemPerFile) {
  TempDir dir;
  const fs::path folder = dir.File("release");
  fs::copy(Assets(), folder, fs::copy_options::recursive);
  std::vector<Problem> problems;
  const ReleaseSource good = ReadReleaseSource(folder.string(), problems);
  EXPECT_TRUE(problems.empty()) << problems.front().File << ": " << problems.front().What;
  EXPECT_EQ(good.ArchiveName, "korvane.rar");
  EXPECT_FALSE(good.PayloadTops.empty());

  fs::remove(folder / "korvane.mod");
  fs::remove_all(folder / "payload");
  ASSERT_TRUE(WriteWholeFile((folder / "caption.txt").string(), Text("tab\there")));
  ASSERT_TRUE(WriteWholeFile((folder / "korvane.nfo").string(), Text("unix\n")));
  problems.clear();
  ReadReleaseSource(folder.string(), problems);
  std::vector<std::string> seen;
  for (const Problem& p : problems) seen.push_back(p.File + (p.Warning ? " (warning)" : ""));
  EXPECT_EQ(seen, (std::vector<std::string>{"caption.txt", "korvane.mod", "korvane.nfo (warning)", "payload/"}));
}

}  // namespace
}  // namespace korvane::release
