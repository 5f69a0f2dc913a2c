// Little-endian reads that fail instead of reading past the end, and the matching writes.
#pragma once
#include <string>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane::release {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteView(const std::vector<uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  // Written so that no sum can overflow, whatever the offset and length.
  bool Has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
  // The bytes from offset on, or an empty view when offset is past the end.
  ByteView From(uint64_t offset) const {
    return offset <= size_ ? ByteView(data_ + offset, size_ - offset) : ByteView();
  }

  bool U8(uint64_t offset, uint8_t* value) const { return Read(offset, 1, value); }
  bool U16(uint64_t offset, uint16_t* value) const { return Read(offset, 2, value); }
  bool U32(uint64_t offset, uint32_t* value) const { return Read(offset, 4, value); }
  bool U64(uint64_t offset, uint64_t* value) const { return Read(offset, 8, value); }

 private:
  template <typename T>
  bool Read(uint64_t offset, int width, T* value) const {
    if (!Has(offset, width)) return false;
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | data_[offset + i];
    *value = static_cast<T>(v);
    return true;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Sets the message for a caller that asked for one; false, so that `return Fail(...)` reads.
inline bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

// Writes go only to offsets already validated against buffers this library sized itself.
inline void PutLE(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}
inline void Put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) { PutLE(bytes, offset, value, 2); }
inline void Put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) { PutLE(bytes, offset, value, 4); }

}  // namespace korvane::release
