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

// Running out of memory anywhere inside leaves the encoder failed: that call and every one
// after it return false and Failed() tells why, so that the caller can report it instead of
// the process ending.
class Format20Encoder {
 public:
  explicit Format20Encoder(const EncoderSettings& settings);  // Failed() when its buffers could not be had
  ~Format20Encoder();
  Format20Encoder(const Format20Encoder&) = delete;
  Format20Encoder& operator=(const Format20Encoder&) = delete;

  // True once memory ran out; the packed bytes of the entry under way are then incomplete.
  bool Failed() const;
  // True when an entry can continue the stream (solid) rather than start a new one.
  bool StreamStarted() const;
  // Begins an entry's packed data. solid: continue the stream of the entries before, as an
  // entry with the solid flag does (the unpacker then reads no table block at its start).
  bool StartEntry(bool solid);
  // The entry's next bytes.
  bool Write(const std::uint8_t* data, std::size_t count);
  // Ends the entry; its last packed bytes are then in Output().
  bool FinishEntry();
  // Packed bytes of the current entry produced so far; the caller may take them away.
  std::vector<std::uint8_t>& Output();
  // Forgets everything since StartEntry, as if the entry had never been given (it is stored
  // instead). False when that is impossible (an entry of more than 1 GiB in a solid stream);
  // the entry then stays as packed.
  bool DiscardEntry();

 private:
  class Impl;
  template <typename Step>
  bool Guarded(Step step);

  std::unique_ptr<Impl> Body;  // null when it could not be allocated
  bool OutOfMemory = false;
  std::vector<std::uint8_t> NoOutput;  // what Output() gives without a body
};

}  // namespace korvane::pack
