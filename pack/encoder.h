// The format 2.0 packer: turns the bytes of archive entries into the packed data the
// unpacker of format 2.0 reads, entry by entry, optionally as one solid stream. It knows
// nothing of archive headers or volumes (archive/archive_writer.h writes those).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvane::pack {

struct EncoderSettings {
  int Level = 3;            // 1 fastest .. 5 smallest
  bool Multimedia = false;  // weigh multimedia blocks against LZ for all data, not only PCM-like
};

class Format20Encoder {
 public:
  explicit Format20Encoder(const EncoderSettings& settings);
  ~Format20Encoder();
  Format20Encoder(const Format20Encoder&) = delete;
  Format20Encoder& operator=(const Format20Encoder&) = delete;

  // True when an entry can continue the stream (solid) rather than start a new one.
  bool StreamStarted() const;
  // Begins an entry's packed data. solid: continue the stream of the entries before, as an
  // entry with the solid flag does (the unpacker then reads no table block at its start).
  void StartEntry(bool solid);
  // The entry's next bytes.
  void Write(const std::uint8_t* data, std::size_t count);
  // Ends the entry; its last packed bytes are then in Output().
  void FinishEntry();
  // Packed bytes of the current entry produced so far; the caller may take them away.
  std::vector<std::uint8_t>& Output();
  // Forgets everything since StartEntry, as if the entry had never been given (it is stored
  // instead). False when that is impossible (an entry of more than 1 GiB in a solid stream);
  // the entry then stays as packed.
  bool DiscardEntry();

 private:
  class Impl;
  std::unique_ptr<Impl> Body;
};

}  // namespace korvane::pack
