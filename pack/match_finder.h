// The stream's history and the search for earlier occurrences of the bytes ahead: hash chains
// over the last 1 MiB, plus a table of the latest position of every byte pair for matches of
// length 2. Positions count bytes of the stream; every position is entered into the chains
// before it is searched, so a search may look at any position of the current chunk in any
// order (the parser's passes and lazy look-ahead rely on that).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace korvane::pack {

struct MatchFinderSettings {
  std::uint32_t hashBytes = 3;     // 3 or 4: bytes a chain key covers (the shortest chain match)
  std::uint32_t hashBits = 16;
  std::uint32_t maxChain = 32;     // candidates looked at per search
  std::uint32_t niceLength = 128;  // a match this long ends the search
  bool shortMatches = false;       // keep the nearest earlier occurrence of every byte pair
};

struct Match {
  std::uint32_t length;
  std::uint32_t distance;
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

  std::uint32_t End() const { return end_; }
  std::uint32_t StreamStart() const { return streamStart_; }
  // The byte at a position of the last kWindow bytes before End() or after.
  const std::uint8_t* At(std::uint32_t pos) const { return buffer_.get() + (pos - base_); }
  // Bytes of history before pos that a match may reach.
  std::uint32_t Reach(std::uint32_t pos) const {
    const std::uint32_t history = pos - streamStart_;
    return history < kWindow ? history : kWindow;
  }

  // Matches at pos of increasing length (each longer than the one before), at most maxLength
  // bytes and at least 3; returns how many were written to out (room for maxChain entries).
  // The latest ones come first, so each is the nearest of its length.
  std::uint32_t Find(std::uint32_t pos, std::uint32_t maxLength, Match* out) const;
  // Distance to the nearest earlier occurrence of the byte pair at pos, if it is at most 256
  // (the reach of the short match codes); 0 otherwise or without shortMatches.
  std::uint32_t PairDistance(std::uint32_t pos) const {
    return pairDistance_ ? pairDistance_[pos - base_] : 0;
  }
  // Length of the match at pos with this distance, at most maxLength (0 when out of reach).
  std::uint32_t MatchLength(std::uint32_t pos, std::uint32_t distance, std::uint32_t maxLength) const {
    if (distance == 0 || distance > Reach(pos)) return 0;
    return CommonLength(At(pos), At(pos - distance), maxLength);
  }

  static std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t maxLength);

  // Marks the current end; Rewind() later returns the stream to it, as if nothing had been
  // appended since (an entry that is stored after all leaves no trace in the history).
  void Mark();
  // False when the mark is gone (a stream of more than 1 GiB since it): nothing changes then.
  bool Rewind();

  const MatchFinderSettings& Settings() const { return settings_; }

 private:
  std::uint32_t Key(const std::uint8_t* p) const;
  void Insert(std::uint32_t pos);
  void EnterPositions();
  void MakeRoom(std::uint32_t count);
  void Renumber();
  void RebuildHeads();

  MatchFinderSettings settings_;
  std::uint32_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;   // capacity_ bytes + comparison slack
  std::unique_ptr<std::uint32_t[]> prev_;    // by buffer index: the previous position of its key
  std::unique_ptr<std::uint16_t[]> pairDistance_;  // by buffer index, see PairDistance
  std::vector<std::uint32_t> head_;          // by key: the latest position
  std::vector<std::uint32_t> pairHead_;      // by byte pair: the latest position
  // Stream positions start at 1, so that 0 in a chain or head never names a real position.
  std::uint32_t base_ = 1;        // stream position of buffer index 0
  std::uint32_t end_ = 1;         // stream position after the last byte
  std::uint32_t streamStart_ = 1;
  std::uint32_t entered_ = 1;     // positions before this are in the chains

  // Rewind state: the mark and, when a move of the buffer dropped bytes the marked history
  // still needs, a copy of them.
  bool marked_ = false;
  std::uint32_t mark_ = 0;
  std::uint32_t markEntered_ = 0;
  std::vector<std::uint8_t> saved_;
};

}  // namespace korvane::pack
