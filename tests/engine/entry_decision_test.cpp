// The per-entry decision over every kind of entry, mode and solidity that changes it.
#include "engine/entry_decision.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

using A = EntryAction;

TEST(EntryDecision, Table) {
  constexpr std::uint32_t kFile = 0x20, kDir = 0x10, kLabel = 0x08;
  const struct {
    const char* what;
    std::uint16_t flags;
    std::uint8_t unpVer;
    std::uint32_t attr;
    bool nameUsable, solid;
    char mode;
    A action;
    bool unknown, unusable;
    int errors;
  } cases[] = {
      {"file, install", 0, 20, kFile, true, false, 'X', A::kExtract, false, false, 0},
      {"file, test", 0, 13, kFile, true, false, 'T', A::kTest, false, false, 0},
      {"file, solid", 0x10, 15, kFile, true, true, 'X', A::kExtract, false, false, 0},
      {"version 12", 0, 12, kFile, true, false, 'X', A::kSkipFile, true, false, 1},
      {"version 21", 0, 21, kFile, true, false, 'T', A::kSkipFile, true, false, 1},
      {"version 29, solid", 0, 29, kFile, true, true, 'X', A::kDecodeForDictionary, true, false, 1},
      {"name too long", 0, 20, kFile, false, false, 'X', A::kSkipFile, false, true, 1},
      {"name too long, solid", 0, 20, kFile, false, true, 'T', A::kDecodeForDictionary, false, true, 1},
      {"unknown version and name too long", 0, 29, kFile, false, false, 'X', A::kSkipFile, true, false, 1},
      {"continued part", 0x01, 20, kFile, true, false, 'X', A::kPassOver, false, false, 0},
      {"continued part, unknown version", 0x03, 29, kFile, true, false, 'X', A::kPassOver, false, false, 0},
      {"continued part, solid", 0x01, 20, kFile, true, true, 'X', A::kDecodeForDictionary, false, false, 0},
      {"continued part, solid, unknown version", 0x01, 29, kFile, true, true, 'T', A::kDecodeForDictionary, true, false, 0},
      {"continued part, solid, name too long", 0x01, 20, kFile, false, true, 'X', A::kDecodeForDictionary, false, false, 0},
      {"directory, install", 0, 20, kDir, true, false, 'X', A::kDirectory, false, false, 0},
      {"directory, test", 0, 20, kDir, true, true, 'T', A::kDirectory, false, false, 0},
      {"directory, unknown version", 0, 29, kDir, true, false, 'X', A::kDirectory, true, false, 1},
      {"directory, name too long", 0, 20, kDir, false, false, 'X', A::kPassOver, false, false, 1},
      {"directory, continued in a solid archive", 0x01, 20, kDir, false, true, 'X', A::kPassOverDirectory, false, false, 0},
      {"volume label", 0, 20, kLabel | kDir, true, false, 'X', A::kPassOver, false, false, 0},
      {"volume label, unknown version", 0, 10, kLabel, false, true, 'T', A::kPassOver, true, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FileHeader h;
    h.HeadFlags = c.flags;
    h.UnpVer = c.unpVer;
    h.FileAttr = c.attr;
    const EntryDecision d = DecideEntry(h, c.nameUsable, c.mode, c.solid);
    EXPECT_EQ(d.Action, c.action);
    EXPECT_EQ(d.UnknownMethod, c.unknown);
    EXPECT_EQ(d.UnusableName, c.unusable);
    EXPECT_EQ(d.Errors, c.errors);
    EXPECT_EQ(d.WithoutOutput, c.solid ? A::kDecodeForDictionary : A::kSkipFile);
  }
}

}  // namespace
}  // namespace korvane
