// Memory running out while packing: the encoder stops and says so, the packer turns that into
// a message, and the process goes on. Allocations are refused through a replacement of the
// global operator new, which is why these tests are an executable of their own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "tests/support/round_trip.h"
#include "tests/support/corpus.h"
#include "archive/archive_writer.h"

namespace {

// Allocations of at least this many bytes fail while a RefuseAllocations is alive.
std::atomic<std::size_t> g_refuseFrom{~std::size_t{0}};

}  // namespace

// Every plain form is replaced, so that no block is taken by one allocator and given back
// to the other (a sanitizer's operator new and this free, say).
void* operator new(std::size_t size) {
  if (size >= g_refuseFrom.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
// Not inlined: where the compiler sees free() meet a pointer from operator new, it warns.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete[](void* p) noexcept { ::operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { ::operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ::operator delete(p); }

namespace korvane::testing {
namespace {

class RefuseAllocations {
 public:
  explicit RefuseAllocations(std::size_t from) { g_refuseFrom.store(from); }
  ~RefuseAllocations() { Lift(); }
  RefuseAllocations(const RefuseAllocations&) = delete;
  RefuseAllocations& operator=(const RefuseAllocations&) = delete;
  static void Lift() { g_refuseFrom.store(~std::size_t{0}); }
};

// Far below the match finder's window, far above a short message.
constexpr std::size_t kNoLargeBlocks = 4096;

TEST(PackOutOfMemory, AnEncoderWithoutItsBuffersRefusesEveryCall) {
  pack::EncoderSettings settings;
  std::unique_ptr<pack::Format20Encoder> encoder;
  {
    RefuseAllocations refuse(kNoLargeBlocks);
    encoder = std::make_unique<pack::Format20Encoder>(settings);
  }
  ASSERT_TRUE(encoder->Failed());
  const Bytes data = WordText(1000, 1);
  EXPECT_FALSE(encoder->StartEntry(false));
  EXPECT_FALSE(encoder->Write(data.data(), data.size()));
  EXPECT_FALSE(encoder->FinishEntry());
  EXPECT_FALSE(encoder->DiscardEntry());
  EXPECT_FALSE(encoder->StreamStarted());
  EXPECT_TRUE(encoder->Output().empty());
}

// At every level (each has its own parse and finder), memory that runs out in the second
// chunk of an entry fails that Write and every call after it, also once memory is back.
TEST(PackOutOfMemory, MemoryRunningOutInsideAnEntryFailsTheEncoderForGood) {
  const Bytes data = WordText(600 * 1024, 2);
  const std::size_t half = data.size() / 2;
  for (int level = 1; level <= 5; ++level) {
    SCOPED_TRACE(level);
    pack::EncoderSettings settings;
    settings.Level = level;
    pack::Format20Encoder encoder(settings);
    ASSERT_FALSE(encoder.Failed());
    ASSERT_TRUE(encoder.StartEntry(false));
    ASSERT_TRUE(encoder.Write(data.data(), half));
    bool written = true;
    {
      RefuseAllocations refuse(kNoLargeBlocks);
      written = encoder.Write(data.data() + half, data.size() - half);
    }
    EXPECT_FALSE(written);
    EXPECT_TRUE(encoder.Failed());
    EXPECT_FALSE(encoder.Write(data.data(), 1));
    EXPECT_FALSE(encoder.FinishEntry());
    EXPECT_FALSE(encoder.StartEntry(false));
  }
}

// The archive writer's side: out of memory is an error with a message, both when the
// encoder cannot be made and when it runs out inside a file; with memory the same run packs.
TEST(PackOutOfMemory, PackSourcesReportsItAsAnError) {
  TempDir dir;
  const std::string file = dir.File("words.txt");
  ASSERT_TRUE(WriteWholeFile(file, WordText(600 * 1024, 3)));
  PackOptions options;
  options.Level = 3;
  std::vector<PackSource> sources;
  std::vector<std::string> links;
  std::string error;
  ASSERT_TRUE(CollectSources({file}, options, sources, links, error)) << error;
  const std::string packed = dir.File("packed");

  std::vector<PackSource> attempt = sources;
  bool ok = true;
  {
    RefuseAllocations refuse(kNoLargeBlocks);
    ok = PackSources(attempt, options, packed, error);
  }
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "out of memory");

  attempt = sources;
  error.clear();
  // Refused from the first progress report on, which comes after the first piece was packed.
  options.Progress = [](std::uint64_t, std::uint64_t) { g_refuseFrom.store(kNoLargeBlocks); };
  ok = PackSources(attempt, options, packed, error);
  RefuseAllocations::Lift();
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "out of memory while packing '" + file + "'");

  attempt = sources;
  error.clear();
  options.Progress = nullptr;
  EXPECT_TRUE(PackSources(attempt, options, packed, error)) << error;
  EXPECT_NE(attempt[0].Method, kMethodStored);
}

}  // namespace
}  // namespace korvane::testing
