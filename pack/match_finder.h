// The stream's history and the search for earlier occurrences of the bytes ahead over the last
// 1 MiB, by 4-byte keys, and for every position the nearest earlier occurrence of its first
// three bytes (matches of length 3, which only pay when near) and of its first two (length-2
// matches at the short distance codes). Positions count bytes of the stream.
//
// Two ways to keep the keys: hash chains, into which every position is entered as it arrives,
// so that a search may look at any position of the current chunk in any order (the priced
// parse's passes rely on that); or buckets of the latest 12 positions per key, one cache line
// each, filled up to each search as it comes (fast, and exact for searches in order).
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace korvane::pack {

struct MatchFinderSettings {
  std::uint32_t HashBits = 16;     // chain heads or buckets
  bool Buckets = false;            // buckets instead of chains
  std::uint32_t MaxChain = 32;     // candidates looked at per search (with buckets: whose tags match)
  std::uint32_t NiceLength = 128;  // a match this long ends the search
  std::uint32_t GoodLength = 32;   // chains: after a match this long, only a quarter of the rest is seen
  bool NearMatches = false;        // keep the nearest occurrences of 3-byte keys and byte pairs
};

struct Match {
  std::uint32_t Length;
  std::uint32_t Distance;
};

class MatchFinder {
 public:
  static constexpr std::uint32_t kWindow = 0x100000;
  // New bytes taken in one go, at most.
  static constexpr std::uint32_t kMaxAppend = 0x100000;

  explicit MatchFinder(const MatchFinderSettings& settings);

  // Starts a new stream: nothing before the current end can be matched any more.
  void StartStream();
  // Appends bytes to the stream (at most kMaxAppend) and enters the positions that can now be
  // keyed into the chains.
  void Append(const std::uint8_t* data, std::uint32_t count);

  std::uint32_t End() const { return StreamEnd; }
  // The byte at a position of the last kWindow bytes before End() or after.
  const std::uint8_t* At(std::uint32_t pos) const { return Buffer.get() + (pos - Base); }
  // Bytes of history before pos that a match may reach.
  std::uint32_t Reach(std::uint32_t pos) const {
    const std::uint32_t history = pos - StreamStart;
    return history < kWindow ? history : kWindow;
  }

  // Matches at pos of increasing length (each longer than the one before), at most maxLength
  // bytes and at least 3; returns how many were written to out (room for MaxMatches()).
  // Nearer ones come first, so each is the nearest of its length that was seen.
  std::uint32_t Find(std::uint32_t pos, std::uint32_t maxLength, Match* out);
  std::uint32_t MaxMatches() const { return Settings.MaxChain + 1; }
  // Distance to the nearest earlier occurrence of the byte pair at pos, if it is at most 256
  // (the reach of the short match codes); 0 otherwise or without NearMatches. Known once pos
  // was searched (or, with chains, once it arrived).
  std::uint32_t PairDistance(std::uint32_t pos) const {
    if (!PairDistances || pos >= Entered) return 0;
    // A position passed over keeps what its slot held before; only a checked pair counts.
    const std::uint32_t d = PairDistances[pos - Base];
    if (d == 0 || d > Reach(pos) || StreamEnd - pos < 2) return 0;
    return At(pos)[0] == At(pos - d)[0] && At(pos)[1] == At(pos - d)[1] ? d : 0;
  }
  // With buckets: the positions not yet entered before pos are left out of the keys (the
  // fastest levels pass over the inside of long matches).
  void PassOver(std::uint32_t pos) {
    if (Settings.Buckets && Entered < pos) Entered = pos;
  }
  // Length of the match at pos with this distance, at most maxLength (0 when out of reach).
  std::uint32_t MatchLength(std::uint32_t pos, std::uint32_t distance, std::uint32_t maxLength) const {
    if (distance == 0 || distance > Reach(pos)) return 0;
    return CommonLength(At(pos), At(pos - distance), maxLength);
  }

  static std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t maxLength) {
    std::uint32_t n = 0;
    while (n + 8 <= maxLength) {
      std::uint64_t x, y;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      if (x != y) {
        const int bits = std::endian::native == std::endian::little ? std::countr_zero(x ^ y) : std::countl_zero(x ^ y);
        return n + static_cast<std::uint32_t>(bits) / 8;
      }
      n += 8;
    }
    while (n < maxLength && a[n] == b[n]) ++n;
    return n;
  }

  // Marks the current end; Rewind() later returns the stream to it, as if nothing had been
  // appended since (an entry that is stored after all leaves no trace in the history).
  void Mark();
  // False when the mark is gone (a stream of more than 1 GiB since it): nothing changes then.
  bool Rewind();

 private:
  void Insert(std::uint32_t pos);
  void PutInBucket(std::uint32_t key, std::uint32_t pos);
  // Enters the positions before limit that can be keyed.
  void EnterPositions(std::uint32_t limit);
  void MakeRoom(std::uint32_t count);
  void Renumber();
  void RebuildHeads();
  void ClearBuckets();

  MatchFinderSettings Settings;
  std::uint32_t Capacity;
  std::unique_ptr<std::uint8_t[]> Buffer;  // Capacity bytes + comparison slack
  // By buffer index: the previous position of its key, and (with NearMatches) the distances
  // to the nearest earlier occurrences of its 3-byte key (0: none within 64 KiB) and of its
  // byte pair (0: none within 256).
  std::unique_ptr<std::uint32_t[]> Prev;
  std::unique_ptr<std::uint16_t[]> TripleDistance;
  std::unique_ptr<std::uint16_t[]> PairDistances;
  std::vector<std::uint32_t> Head;  // by 4-byte key: the latest position (chains)
  // By 4-byte key, one cache line: the latest positions in a ring, beside each a tag of 8 more
  // bits of its bytes' hash (most positions in a bucket only share the key's bits; the tag
  // turns nearly all of them away without reading their bytes), and the slot written next.
  static constexpr std::uint32_t kWays = 12;
  struct alignas(64) Bucket {
    std::uint32_t Positions[kWays];
    std::uint8_t Tags[kWays];
    std::uint8_t Next;
    std::uint8_t Unused[3];
  };
  static_assert(sizeof(Bucket) == 64);
  std::unique_ptr<Bucket[]> Buckets;
  std::vector<std::uint32_t> TripleHead;  // by 3-byte key
  std::vector<std::uint32_t> PairHead;    // by byte pair
  // Stream positions start at 1, so that 0 in a chain or head never names a real position.
  std::uint32_t Base = 1;       // stream position of buffer index 0
  std::uint32_t StreamEnd = 1;  // stream position after the last byte
  std::uint32_t StreamStart = 1;
  std::uint32_t Entered = 1;  // positions before this are in the chains

  // Rewind state: the mark and, once a move of the buffer has passed the start of the marked
  // history, a copy of that history (empty when the mark began a stream). After such a move
  // the buffer no longer holds the marked end at its old place, so a rewind must restore it
  // from the copy however short the copy is.
  bool Marked = false;
  bool HistorySaved = false;
  std::uint32_t MarkPosition = 0;
  std::uint32_t MarkEntered = 0;
  std::vector<std::uint8_t> Saved;
};

}  // namespace korvane::pack
