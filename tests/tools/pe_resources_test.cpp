// The PE resource writer on images built here (PE32 and PE32+, with and without sections and an
// overlay after the resources, damaged ones) and, when the build names one, on a real korvane.exe.
// The images are read back by a header reader of the test's own and a resource tree laid out
// depth first, unlike the writer's, so neither side can hide the other's mistakes.
#include "tools/release/pe_resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace {
using namespace korvane::release;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFileAlign = 0x200;
constexpr uint32_t kSectionAlign = 0x1000;
constexpr uint32_t kHeadersSize = 0x400;  // leaves room for one more section header

uint32_t Get(const Bytes& b, size_t at, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
  return v;
}
void Set(Bytes& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }
Bytes Pattern(size_t size, int seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 131 + seed * 17 + (i >> 8));
  return b;
}

struct SectionInfo {
  std::string name;
  uint32_t virtualSize, va, rawSize, rawPointer, flags;
};
struct Headers {
  bool pe32Plus;
  size_t coff, opt, dirs;
  std::vector<SectionInfo> sections;
  uint32_t Dir(int i, int field = 0) const { return dirs ? dirs + 8 * i + 4 * field : 0; }
};
Headers ReadHeaders(const Bytes& f) {
  Headers h{};
  h.coff = Get(f, 0x3C, 4) + 4;
  h.opt = h.coff + 20;
  h.pe32Plus = Get(f, h.opt, 2) == 0x20B;
  h.dirs = h.opt + (h.pe32Plus ? 112 : 96);
  const size_t table = h.opt + Get(f, h.coff + 16, 2);
  for (size_t i = 0; i < Get(f, h.coff + 2, 2); ++i) {
    const size_t s = table + 40 * i;
    std::string name(reinterpret_cast<const char*>(&f[s]), 8);
    h.sections.push_back(
        {name.c_str(), Get(f, s + 8, 4), Get(f, s + 12, 4), Get(f, s + 16, 4), Get(f, s + 20, 4), Get(f, s + 36, 4)});
  }
  return h;
}
const SectionInfo* Find(const Headers& h, const std::string& name) {
  for (const SectionInfo& s : h.sections)
    if (s.name == name) return &s;
  return nullptr;
}
uint32_t DirectoryRva(const Bytes& f, const Headers& h, int i) { return Get(f, h.Dir(i), 4); }

// The test's own tree: depth first, each data entry and its data right after its directory.
Bytes DepthFirstTree(const std::vector<Resource>& resources, uint32_t rva) {
  std::map<uint16_t, std::map<uint16_t, std::map<uint16_t, const Bytes*>>> tree;
  for (const Resource& r : resources) tree[r.type][r.id][r.language] = &r.data;
  Bytes out;
  auto directory = [&](size_t count) {
    const size_t at = out.size();
    out.resize(at + 16 + 8 * count);
    Set(out, at + 14, count, 2);
    return at;
  };
  auto entry = [&](size_t dir, size_t i, uint32_t name, uint32_t target) {
    Set(out, dir + 16 + 8 * i, name, 4);
    Set(out, dir + 20 + 8 * i, target, 4);
  };
  const size_t root = directory(tree.size());
  size_t t = 0;
  for (const auto& [type, ids] : tree) {
    entry(root, t++, type, 0x80000000 | static_cast<uint32_t>(out.size()));
    const size_t typeDir = directory(ids.size());
    size_t n = 0;
    for (const auto& [id, languages] : ids) {
      entry(typeDir, n++, id, 0x80000000 | static_cast<uint32_t>(out.size()));
      const size_t idDir = directory(languages.size());
      size_t l = 0;
      for (const auto& [language, data] : languages) {
        out.resize(Align(static_cast<uint32_t>(out.size()), 4) + 16);
        const size_t dataEntry = out.size() - 16;
        entry(idDir, l++, language, static_cast<uint32_t>(dataEntry));
        Set(out, dataEntry, rva + out.size(), 4);
        Set(out, dataEntry + 4, data->size(), 4);
        out.insert(out.end(), data->begin(), data->end());
      }
    }
  }
  return out;
}

enum class Kind { Text, Data, Rsrc, Reloc, Debug, Writable };
struct ImageShape {
  bool pe32Plus;
  std::vector<Kind> sections;
  size_t overlay = 0;            // bytes after the last section, the symbol table pointer at them
  bool pointerIntoRsrc = false;  // .text holds the address of resource data
};

struct Layout {
  std::string name;
  uint32_t flags;
  Bytes data;
  uint32_t va = 0, raw = 0;
};

// .text holds two absolute addresses (of .data, or of the resources), listed by .reloc.
Bytes BuildImage(const ImageShape& shape, const std::vector<Resource>& resources) {
  const uint64_t base = shape.pe32Plus ? 0x140000000ull : 0x400000;
  const int width = shape.pe32Plus ? 8 : 4;
  std::map<Kind, Layout> kinds = {{Kind::Text, {".text", 0x60000020, Pattern(0x300, 1)}},
                                  {Kind::Data, {".data", 0xC0000040, Pattern(0x280, 2)}},
                                  {Kind::Rsrc, {".rsrc", 0x40000040, DepthFirstTree(resources, 0)}},
                                  {Kind::Reloc, {".reloc", 0x42000040, Bytes(12)}},
                                  {Kind::Debug, {"/4", 0x42100040, Pattern(0x900, 3)}},
                                  {Kind::Writable, {".late", 0xC0000040, Pattern(0x100, 4)}}};
  uint32_t va = kSectionAlign, raw = kHeadersSize;
  for (Kind k : shape.sections) {
    kinds[k].va = va;
    kinds[k].raw = raw;
    va += Align(static_cast<uint32_t>(kinds[k].data.size()), kSectionAlign);
    raw += Align(static_cast<uint32_t>(kinds[k].data.size()), kFileAlign);
  }
  kinds[Kind::Rsrc].data = DepthFirstTree(resources, kinds[Kind::Rsrc].va);
  const uint64_t target = base + (shape.pointerIntoRsrc ? kinds[Kind::Rsrc].va + 8 : kinds[Kind::Data].va + 8);
  Set(kinds[Kind::Text].data, 0x10, target, width);
  Set(kinds[Kind::Text].data, 0x20, target + 4, width);
  Bytes& reloc = kinds[Kind::Reloc].data;
  Set(reloc, 0, kinds[Kind::Text].va, 4);
  Set(reloc, 4, 12, 4);
  Set(reloc, 8, (shape.pe32Plus ? 0xA010 : 0x3010), 2);
  Set(reloc, 10, (shape.pe32Plus ? 0xA020 : 0x3020), 2);

  Bytes f(raw + shape.overlay);
  Set(f, 0, 0x5A4D, 2);
  Set(f, 0x3C, 0x80, 4);
  Set(f, 0x80, 0x4550, 4);
  const size_t coff = 0x84, opt = coff + 20, optSize = shape.pe32Plus ? 240 : 224;
  Set(f, coff, shape.pe32Plus ? 0x8664 : 0x14C, 2);
  Set(f, coff + 2, shape.sections.size(), 2);
  Set(f, coff + 8, shape.overlay ? raw : 0, 4);
  Set(f, coff + 16, optSize, 2);
  Set(f, opt, shape.pe32Plus ? 0x20B : 0x10B, 2);
  uint32_t initialized = 0;
  for (Kind k : shape.sections) {
    if (kinds[k].flags & 0x40) initialized += Align(static_cast<uint32_t>(kinds[k].data.size()), kFileAlign);
  }
  Set(f, opt + 8, initialized, 4);
  Set(f, shape.pe32Plus ? opt + 24 : opt + 28, base, width);
  Set(f, opt + 32, kSectionAlign, 4);
  Set(f, opt + 36, kFileAlign, 4);
  Set(f, opt + 56, va, 4);
  Set(f, opt + 60, kHeadersSize, 4);
  Set(f, opt + 68, 2, 2);
  Set(f, opt + optSize - 132, 16, 4);
  const size_t dirs = opt + optSize - 128;
  for (size_t i = 0; i < shape.sections.size(); ++i) {
    const Layout& s = kinds[shape.sections[i]];
    const size_t h = opt + optSize + 40 * i;
    std::copy(s.name.begin(), s.name.end(), f.begin() + h);
    Set(f, h + 8, s.data.size(), 4);
    Set(f, h + 12, s.va, 4);
    Set(f, h + 16, Align(static_cast<uint32_t>(s.data.size()), kFileAlign), 4);
    Set(f, h + 20, s.raw, 4);
    Set(f, h + 36, s.flags, 4);
    std::copy(s.data.begin(), s.data.end(), f.begin() + s.raw);
    const int dir = shape.sections[i] == Kind::Rsrc ? 2 : shape.sections[i] == Kind::Reloc ? 5 : -1;
    if (dir >= 0) {
      Set(f, dirs + 8 * dir, s.va, 4);
      Set(f, dirs + 8 * dir + 4, s.data.size(), 4);
    }
  }
  const Bytes overlay = Pattern(shape.overlay, 5);
  std::copy(overlay.begin(), overlay.end(), f.begin() + raw);
  return f;
}

std::vector<Resource> Sorted(std::vector<Resource> r) {
  std::sort(r.begin(), r.end(), [](const Resource& a, const Resource& b) {
    return std::tie(a.type, a.id, a.language) < std::tie(b.type, b.id, b.language);
  });
  return r;
}

const std::vector<Resource> kStubResources = {
    {kResourceIcon, 1, 0x409, Pattern(0x2E8, 6)},      {kResourceDialog, 101, 0x409, Pattern(98, 7)},
    {kResourceData, 143, 0x409, Pattern(0x1500, 8)},   {kResourceData, 140, 0x409, Pattern(16, 9)},
    {kResourceGroupIcon, 154, 0x409, Pattern(20, 10)}, {kResourceManifest, 1, 0x409, Pattern(0x687, 11)}};

// Bigger than the stub's (the sections after .rsrc move up), given out of order, in two
// languages for one id.
const std::vector<Resource> kGrown = {
    {kResourceManifest, 1, 0x409, Pattern(0x687, 11)}, {kResourceData, 143, 0x409, Pattern(0x5432, 12)},
    {kResourceData, 140, 0x407, Pattern(17, 13)},      {kResourceData, 140, 0x409, Pattern(16, 9)},
    {kResourceDialog, 101, 0x409, Pattern(98, 7)},     {kResourceData, 145, 0x409, Pattern(0x2001, 14)}};
// Smaller: they move down.
const std::vector<Resource> kShrunk = {{kResourceData, 141, 0x409, Pattern(2, 15)}};

// Headers agree with the section table; every section other than .rsrc, and the overlay,
// byte for byte as in the stub; the directories point at their sections.
void ExpectStampedFrom(const Bytes& stub, const Bytes& out) {
  const Headers before = ReadHeaders(stub), after = ReadHeaders(out);
  ASSERT_EQ(before.sections.size() + (Find(before, ".rsrc") ? 0 : 1), after.sections.size());
  uint32_t imageEnd = 0, lastVirtual = 0, lastRaw = 0, rawEnd = 0, oldRawEnd = 0;
  for (const SectionInfo& s : before.sections) oldRawEnd = std::max(oldRawEnd, s.rawPointer + s.rawSize);
  for (const SectionInfo& s : after.sections) {
    EXPECT_EQ(s.va % kSectionAlign, 0u) << s.name;
    EXPECT_GE(s.va, lastVirtual) << s.name;
    lastVirtual = Align(s.va + s.virtualSize, kSectionAlign);
    imageEnd = std::max(imageEnd, lastVirtual);
    if (s.rawSize != 0) {  // not .bss
      EXPECT_EQ(s.rawPointer % kFileAlign, 0u) << s.name;
      EXPECT_EQ(s.rawSize % kFileAlign, 0u) << s.name;
      EXPECT_GE(s.rawPointer, lastRaw) << s.name;
      lastRaw = s.rawPointer + s.rawSize;
      rawEnd = std::max(rawEnd, lastRaw);
    }
    const SectionInfo* old = Find(before, s.name);
    if (s.name == ".rsrc" || old == nullptr) continue;
    EXPECT_EQ(old->virtualSize, s.virtualSize) << s.name;
    EXPECT_EQ(old->flags, s.flags) << s.name;
    ASSERT_EQ(old->rawSize, s.rawSize) << s.name;
    EXPECT_TRUE(std::equal(stub.begin() + old->rawPointer, stub.begin() + old->rawPointer + old->rawSize,
                           out.begin() + s.rawPointer))
        << s.name;
  }
  EXPECT_EQ(Get(out, after.opt + 56, 4), imageEnd);
  EXPECT_EQ(Get(out, after.opt + 64, 4), PeChecksum(out, after.opt + 64));
  ASSERT_EQ(out.size() - rawEnd, stub.size() - oldRawEnd);
  EXPECT_TRUE(std::equal(stub.begin() + oldRawEnd, stub.end(), out.begin() + rawEnd)) << "overlay";
  if (Get(stub, before.coff + 8, 4) != 0) {
    EXPECT_EQ(Get(out, after.coff + 8, 4), rawEnd) << "symbol table";
  }
  const SectionInfo* rsrc = Find(after, ".rsrc");
  ASSERT_NE(rsrc, nullptr);
  const SectionInfo* oldRsrc = Find(before, ".rsrc");
  EXPECT_EQ(Get(out, after.opt + 8, 4) - Get(stub, before.opt + 8, 4), rsrc->rawSize - (oldRsrc ? oldRsrc->rawSize : 0))
      << "SizeOfInitializedData";
  EXPECT_EQ(DirectoryRva(out, after, 2), rsrc->va);
  EXPECT_EQ(Get(out, after.Dir(2, 1), 4), rsrc->virtualSize);
  if (const SectionInfo* reloc = Find(after, ".reloc")) {
    EXPECT_EQ(DirectoryRva(out, after, 5), reloc->va);
  }
}

struct RoundTripRow {
  const char* label;
  ImageShape shape;
  const std::vector<Resource>* replacement;
};

TEST(PeResources, ReplacedResourcesReadBackAndTheRestOfTheImageStays) {
  const std::vector<Kind> last = {Kind::Text, Kind::Data, Kind::Rsrc};
  const std::vector<Kind> followed = {Kind::Text, Kind::Data, Kind::Rsrc, Kind::Reloc, Kind::Debug};
  const std::vector<Kind> none = {Kind::Text, Kind::Data, Kind::Reloc};
  const RoundTripRow rows[] = {
      {"PE32, .rsrc last", {false, last}, &kGrown},
      {"PE32+, .rsrc last", {true, last}, &kGrown},
      {"PE32, .reloc and debug after, overlay", {false, followed, 0x123}, &kGrown},
      {"PE32+, .reloc and debug after, overlay", {true, followed, 0x400}, &kGrown},
      {"PE32, shrinking, overlay", {false, followed, 0x77}, &kShrunk},
      {"PE32+, shrinking to nothing", {true, followed}, nullptr},
      {"PE32, no resource section, overlay", {false, none, 0x99}, &kGrown},
  };
  for (const RoundTripRow& row : rows) {
    SCOPED_TRACE(row.label);
    const std::vector<Resource> wanted = row.replacement ? *row.replacement : std::vector<Resource>{};
    const bool hasRsrc = std::count(row.shape.sections.begin(), row.shape.sections.end(), Kind::Rsrc) != 0;
    const Bytes stub = BuildImage(row.shape, kStubResources);
    std::vector<Resource> read;
    std::string error;
    ASSERT_TRUE(ReadResources(stub, &read, &error)) << error;
    EXPECT_EQ(read, hasRsrc ? Sorted(kStubResources) : std::vector<Resource>{});

    Bytes out;
    ASSERT_TRUE(ReplaceResources(stub, wanted, &out, &error)) << error;
    ASSERT_TRUE(ReadResources(out, &read, &error)) << error;
    EXPECT_EQ(read, Sorted(wanted));
    ExpectStampedFrom(stub, out);

    // Stamping the stamped copy again gives what stamping the stub would: nothing drifts.
    Bytes again, direct;
    ASSERT_TRUE(ReplaceResources(out, kShrunk, &again, &error)) << error;
    ASSERT_TRUE(ReplaceResources(stub, kShrunk, &direct, &error)) << error;
    EXPECT_EQ(again, direct);
  }
}

struct RefusalRow {
  const char* label;
  ImageShape shape;
  std::function<void(Bytes&, const Headers&)> damage;
  const char* expected;
};

TEST(PeResources, RefusesWhatItCannotRewriteSoundly) {
  const std::vector<Kind> followed = {Kind::Text, Kind::Data, Kind::Rsrc, Kind::Reloc, Kind::Debug};
  auto none = [](Bytes&, const Headers&) {};
  const RefusalRow rows[] = {
      {"writable section after .rsrc",
       {false, {Kind::Text, Kind::Data, Kind::Rsrc, Kind::Writable}},
       none,
       "cannot be moved"},
      {"code holds an address in .rsrc", {false, followed, 0, true}, none, "address in the resource section"},
      {"signed",
       {false, followed},
       [](Bytes& f, const Headers& h) {
         Set(f, h.Dir(4), 0x2000, 4);
         Set(f, h.Dir(4, 1), 8, 4);
       },
       "signed"},
      {"debug directory in a moving section",
       {true, followed},
       [](Bytes& f, const Headers& h) {
         Set(f, h.Dir(6), Find(h, "/4")->va, 4);
         Set(f, h.Dir(6, 1), 28, 4);
       },
       "data directory 6"},
      {"relocation patches .rsrc",
       {false, followed},
       [](Bytes& f, const Headers& h) { Set(f, Find(h, ".reloc")->rawPointer, Find(h, ".rsrc")->va, 4); },
       "patches the resource section"},
      {"resource directory inside .data",
       {false, followed},
       [](Bytes& f, const Headers& h) { Set(f, h.Dir(2), Find(h, ".data")->va + 0x40, 4); },
       "does not start section"},
      {"no room for a new section header",
       {false, {Kind::Text, Kind::Data}},
       [](Bytes& f, const Headers& h) { Set(f, h.opt + 60, h.dirs + 128 + 80, 4); },
       "no room"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.label);
    Bytes stub = BuildImage(row.shape, kStubResources);
    row.damage(stub, ReadHeaders(stub));
    Bytes out = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(ReplaceResources(stub, kGrown, &out, &error));
    EXPECT_NE(error.find(row.expected), std::string::npos) << error;
    EXPECT_EQ(out, (Bytes{1, 2, 3})) << "output touched on failure";
  }
  std::string error;
  Bytes out;
  std::vector<Resource> twice = {kShrunk[0], kShrunk[0]};
  EXPECT_FALSE(ReplaceResources(BuildImage({false, followed}, kStubResources), twice, &out, &error));
  EXPECT_NE(error.find("given twice"), std::string::npos) << error;
}

TEST(PeChecksum, MatchesHandComputedSums) {
  struct Row {
    Bytes file;
    size_t field;
    uint32_t expected;
  } rows[] = {
      {{}, 0, 0},
      {{0x34, 0x12, 9, 9, 9, 9, 0x78, 0x56}, 2, 0x1234 + 0x5678 + 8},
      {{0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x05}, 4, 0x0609 + 11},  // odd length
      {{0xFF, 0xFF, 0x01, 0x00, 7, 7, 7, 7}, 4, 0x0001 + 8},                                 // carry folds in
      {{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 0xFFFF + 8},
      {{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 0xFFFF + 10},  // 0xFFFF + 0xFFFF folds to 0xFFFF
  };
  for (const Row& row : rows) EXPECT_EQ(PeChecksum(row.file, row.field), row.expected);
}

// A .ico with a 16x16 and a 32x32 image of 40 and 60 bytes.
Bytes TwoImageIco() {
  Bytes ico = {0, 0, 1, 0, 2, 0};
  const uint8_t sizes[] = {16, 32};
  const uint32_t lengths[] = {40, 60};
  uint32_t offset = 6 + 2 * 16;
  for (int i = 0; i < 2; ++i) {
    ico.insert(ico.end(), {sizes[i], sizes[i], 0, 0, 1, 0, 32, 0});
    ico.resize(ico.size() + 8);
    Set(ico, ico.size() - 8, lengths[i], 4);
    Set(ico, ico.size() - 4, offset, 4);
    offset += lengths[i];
  }
  for (int i = 0; i < 2; ++i) {
    const Bytes image = Pattern(lengths[i], 20 + i);
    ico.insert(ico.end(), image.begin(), image.end());
  }
  return ico;
}

TEST(IconResources, IcoBecomesIconsAndAGroupListingThem) {
  const Bytes ico = TwoImageIco();
  std::vector<Resource> out;
  std::string error;
  ASSERT_TRUE(IconResourcesFromIco(ico, 154, 7, 0x409, &out, &error)) << error;
  const Bytes group = {0,  0,  1, 0, 2, 0,                            //
                       16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 7, 0,  //
                       32, 32, 0, 0, 1, 0, 32, 0, 60, 0, 0, 0, 8, 0};
  const std::vector<Resource> expected = {{kResourceIcon, 7, 0x409, Pattern(40, 20)},
                                          {kResourceIcon, 8, 0x409, Pattern(60, 21)},
                                          {kResourceGroupIcon, 154, 0x409, group}};
  EXPECT_EQ(out, expected);

  struct Bad {
    const char* label;
    size_t at;
    uint32_t value;
    int width;
    uint16_t firstId;
    const char* expected;
  } bad[] = {
      {"cursor file", 2, 2, 2, 1, "not an icon"},       {"no images", 4, 0, 2, 1, "no images"},
      {"directory cut short", 4, 9, 2, 1, "cut short"}, {"offset past the end", 6 + 16 + 12, 999, 4, 1, "outside"},
      {"empty image", 6 + 8, 0, 4, 1, "outside"},       {"ids past 0xFFFF", 0, 0, 2, 0xFFFF, "out of range"}};
  for (const Bad& row : bad) {
    SCOPED_TRACE(row.label);
    Bytes damaged = ico;
    Set(damaged, row.at, row.value, row.width);
    EXPECT_FALSE(IconResourcesFromIco(damaged, 154, row.firstId, 0x409, &out, &error));
    EXPECT_NE(error.find(row.expected), std::string::npos) << error;
  }
}

std::vector<std::pair<int, int>> Keys(const std::vector<Resource>& resources) {
  std::vector<std::pair<int, int>> keys;
  for (const Resource& r : resources) keys.push_back({r.type, r.id});
  return keys;
}

TEST(MergeResources, ReplacementsDisplaceEveryLanguageAndTheOldGroupsIcons) {
  const Bytes oldGroup = {0, 0, 1, 0,  2,  0, 16, 16, 0, 0, 1, 0, 4, 0, 9, 0, 0,
                          0, 1, 0, 32, 32, 0, 0,  1,  0, 4, 0, 9, 0, 0, 0, 2, 0};
  const std::vector<Resource> stub = {{kResourceIcon, 1, 0x409, {1}},    {kResourceIcon, 2, 0x409, {2}},
                                      {kResourceIcon, 9, 0x409, {9}},    {kResourceGroupIcon, 154, 0x409, oldGroup},
                                      {kResourceData, 143, 0, {0}},      {kResourceData, 143, 0x409, {0}},
                                      {kResourceDialog, 101, 0x409, {5}}};
  std::vector<Resource> icons;
  std::string error;
  ASSERT_TRUE(IconResourcesFromIco(TwoImageIco(), 154, 1, 0x409, &icons, &error)) << error;
  icons.erase(icons.begin() + 1);  // one icon only, so old icon 2 has no successor
  icons.back().data[4] = 1;
  std::vector<Resource> replacements = icons;
  replacements.push_back({kResourceData, 143, 0x409, {7, 7}});

  const std::vector<Resource> merged = MergeResources(stub, replacements, true);
  EXPECT_EQ(Keys(merged), (std::vector<std::pair<int, int>>{{3, 1}, {3, 9}, {5, 101}, {10, 143}, {14, 154}}));
  EXPECT_EQ(merged[0], icons[0]);
  EXPECT_EQ(merged[3].data, (Bytes{7, 7}));
  EXPECT_EQ(merged[4], icons[1]);
  EXPECT_EQ(Keys(MergeResources(stub, replacements, false)),
            (std::vector<std::pair<int, int>>{{3, 1}, {3, 2}, {3, 9}, {5, 101}, {10, 143}, {14, 154}}));
}

// The stub for the damage tests: every byte of it lies in a section, so any truncation cuts one.
Bytes DamageStub() { return BuildImage({false, {Kind::Text, Kind::Data, Kind::Rsrc, Kind::Reloc}}, kStubResources); }

// Offset (in the file) of the first data entry, found by following first entries.
size_t FirstDataEntry(const Bytes& f, size_t tree) {
  size_t dir = 0;
  for (int level = 0; level < 3; ++level) dir = Get(f, tree + dir + 20, 4) & 0x7FFFFFFF;
  return tree + dir;
}

TEST(PeResources, DamagedImagesGiveAnErrorNotACrash) {
  const Bytes stub = DamageStub();
  const Headers h = ReadHeaders(stub);
  const size_t tree = Find(h, ".rsrc")->rawPointer;
  struct Row {
    const char* label;
    size_t at;
    uint32_t value;
    int width;
    const char* expected;
  } rows[] = {
      {"no PE header", 0x3C, 0xFFFFFFF0, 4, "no PE signature"},
      {"sections past the end", h.coff + 2, 0xFFFF, 2, "section table past"},
      {"optional header past the end", h.coff + 16, 0xFFFF, 2, "optional header"},
      {"file alignment 3", h.opt + 36, 3, 4, "power of two"},
      {"huge entry counts", tree + 12, 0xFFFFFFFF, 4, "more entries"},
      {"a cycle", tree + 20, 0x80000000, 4, "reached twice"},
      {"string-named type", tree + 16, 0x80000100, 4, "string-named"},
      {"type pointing at data", tree + 20, 0x10, 4, "ends before"},
      {"data outside the image", FirstDataEntry(stub, tree), 0xFFFFFF00, 4, "outside"},
      {"data larger than its section", FirstDataEntry(stub, tree) + 4, 0x7FFFFFFF, 4, "outside"},
  };
  std::vector<Resource> read;
  std::string error;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Bytes damaged = stub;
    Set(damaged, row.at, row.value, row.width);
    EXPECT_FALSE(ReadResources(damaged, &read, &error));
    EXPECT_NE(error.find(row.expected), std::string::npos) << error;
  }
  Bytes out;
  for (size_t length = 0; length < stub.size(); length += length < 0x400 ? 1 : 13) {
    const Bytes cut(stub.begin(), stub.begin() + length);
    error.clear();
    EXPECT_FALSE(ReadResources(cut, &read, &error)) << length;
    EXPECT_FALSE(error.empty()) << length;
    error.clear();
    EXPECT_FALSE(ReplaceResources(cut, kGrown, &out, &error)) << length;
    EXPECT_FALSE(error.empty()) << length;
  }
}

// Random flips in the headers and the tree: whatever is accepted must still stamp into an image
// that reads back; whatever is refused says why.
TEST(PeResources, RandomFlipsInHeadersAndTreeAreSurvived) {
  const Bytes stub = DamageStub();
  const size_t tree = Find(ReadHeaders(stub), ".rsrc")->rawPointer;
  std::mt19937 random(1998);
  int refused = 0;
  const int rounds = 3000;
  for (int round = 0; round < rounds; ++round) {
    Bytes damaged = stub;
    for (int flips = 1 + round % 4; flips > 0; --flips) {
      const size_t at = random() % 2 ? random() % kHeadersSize : tree + random() % 0x200;
      damaged[at] ^= static_cast<uint8_t>(1u << (random() % 8));
    }
    std::vector<Resource> read;
    Bytes out;
    std::string error;
    if (!ReadResources(damaged, &read, &error)) {
      EXPECT_FALSE(error.empty());
    }
    error.clear();
    if (!ReplaceResources(damaged, kGrown, &out, &error)) {
      EXPECT_FALSE(error.empty());
      ++refused;
      continue;
    }
    ASSERT_TRUE(ReadResources(out, &read, &error)) << "round " << round << ": " << error;
    EXPECT_EQ(read, Sorted(kGrown)) << "round " << round;
  }
  EXPECT_GT(refused, rounds / 20);
  EXPECT_LT(refused, rounds);
}

TEST(PeResources, RealStubIsStampedAndReadsBack) {
#ifndef KORVANE_PE_STUB
  GTEST_SKIP() << "no korvane.exe: configure with -DKORVANE_PE_STUB_PATH=.../korvane.exe";
#else
  std::ifstream file(KORVANE_PE_STUB, std::ios::binary);
  if (!file) GTEST_SKIP() << KORVANE_PE_STUB << " does not exist";
  const Bytes stub((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(PeChecksum(stub, ReadHeaders(stub).opt + 64), Get(stub, ReadHeaders(stub).opt + 64, 4)) << "the linker's";
  std::vector<Resource> resources;
  std::string error;
  ASSERT_TRUE(ReadResources(stub, &resources, &error)) << error;
  std::set<int> types, data;
  for (const Resource& r : resources) {
    types.insert(r.type);
    if (r.type == kResourceData) data.insert(r.id);
    EXPECT_EQ(r.language, kLanguageEnglishUs);
  }
  EXPECT_EQ(types, (std::set<int>{3, 4, 5, 10, 14, 16, 24}));
  EXPECT_EQ(data, (std::set<int>{140, 141, 142, 143, 144, 145}));

  std::vector<Resource> replacements;
  ASSERT_TRUE(IconResourcesFromIco(TwoImageIco(), 154, 1, kLanguageEnglishUs, &replacements, &error)) << error;
  replacements.push_back({kResourceData, 143, kLanguageEnglishUs, Pattern(300 * 1024, 30)});
  const std::vector<Resource> merged = MergeResources(resources, replacements, true);
  Bytes out;
  ASSERT_TRUE(ReplaceResources(stub, merged, &out, &error)) << error;
  std::vector<Resource> read;
  ASSERT_TRUE(ReadResources(out, &read, &error)) << error;
  EXPECT_EQ(read, merged);
  ExpectStampedFrom(stub, out);
#endif
}

}  // namespace
