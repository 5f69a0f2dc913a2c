#include "tools/release/png_io.h"

#include "tools/release/pcx_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

namespace korvane::release {
namespace {

// Far beyond any installer picture, small enough that a forged header cannot ask for gigabytes.
constexpr png_uint_32 kLargestSide = 16384;
constexpr std::uint64_t kMostPixels = std::uint64_t(1) << 26;

// libpng reports through these and never returns from an error: the handler jumps back to
// the setjmp in Run*, which lives in a frame of ours with nothing to unwind in between.
struct Failure {
  std::jmp_buf Jump;
  char Message[256] = "";
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  auto* failure = static_cast<Failure*>(png_get_error_ptr(png));
  std::snprintf(failure->Message, sizeof failure->Message, "%s", message != nullptr ? message : "libpng error");
  std::longjmp(failure->Jump, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Everything a run touches lives here, behind a pointer, so that its values are the ones in
// memory when libpng jumps back.
struct Decoding {
  Failure Fail;
  std::span<const std::uint8_t> Input;
  std::size_t Offset = 0;
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  png_uint_32 Width = 0, Height = 0;
  std::vector<std::uint8_t> Indices;
  std::vector<png_bytep> Rows;
  std::array<std::uint8_t, 768> Palette{};
  std::string Refusal;  // a readable PNG that is not a palette picture
};

void ReadInput(png_structp png, png_bytep out, png_size_t count) {
  auto* d = static_cast<Decoding*>(png_get_io_ptr(png));
  if (count > d->Input.size() - d->Offset) png_error(png, "the file ends early");
  std::memcpy(out, d->Input.data() + d->Offset, count);
  d->Offset += count;
}

std::string ColourKind(int type) {
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) return "a greyscale";
  return "a true-colour";
}

bool RunDecoding(Decoding* d) {
  if (setjmp(d->Fail.Jump)) return false;
  png_set_read_fn(d->Png, d, ReadInput);
  png_set_user_limits(d->Png, kLargestSide, kLargestSide);
  png_read_info(d->Png, d->Info);
  int depth = 0, type = 0, interlace = 0;
  png_get_IHDR(d->Png, d->Info, &d->Width, &d->Height, &depth, &type, &interlace, nullptr, nullptr);
  if (type != PNG_COLOR_TYPE_PALETTE) {
    d->Refusal = "is " + ColourKind(type) + " PNG; the installer needs a picture of at most 256 palette colours (" +
                 kPalettePngHint + ")";
    return false;
  }
  if (std::uint64_t(d->Width) * d->Height > kMostPixels) {
    d->Refusal = "is " + std::to_string(d->Width) + " x " + std::to_string(d->Height) + ", too large a picture";
    return false;
  }
  png_colorp colours = nullptr;
  int count = 0;
  if (png_get_PLTE(d->Png, d->Info, &colours, &count) == 0 || count < 1 || count > 256)
    png_error(d->Png, "palette PNG without a palette");
  for (int i = 0; i < count; ++i) {
    d->Palette[std::size_t(3 * i)] = colours[i].red;
    d->Palette[std::size_t(3 * i + 1)] = colours[i].green;
    d->Palette[std::size_t(3 * i + 2)] = colours[i].blue;
  }
  png_set_packing(d->Png);  // 1, 2 and 4 bits per pixel become one index byte each
  png_set_interlace_handling(d->Png);
  png_read_update_info(d->Png, d->Info);
  if (png_get_rowbytes(d->Png, d->Info) != d->Width) png_error(d->Png, "unexpected row layout");
  d->Indices.assign(std::size_t(d->Width) * d->Height, 0);
  d->Rows.resize(d->Height);
  for (png_uint_32 y = 0; y < d->Height; ++y) d->Rows[y] = d->Indices.data() + std::size_t(y) * d->Width;
  png_read_image(d->Png, d->Rows.data());
  png_read_end(d->Png, nullptr);
  for (std::size_t i = 0; i < d->Indices.size(); ++i) {
    if (d->Indices[i] >= count) {
      d->Refusal = "uses colour " + std::to_string(d->Indices[i]) + " of a palette of " + std::to_string(count);
      return false;
    }
  }
  return true;
}

struct Encoding {
  Failure Fail;
  std::vector<std::uint8_t>* Out = nullptr;
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  int Width = 0, Height = 0, Channels = 0;
  std::span<const std::uint8_t> Pixels;
  std::vector<png_bytep> Rows;
};

void WriteOutput(png_structp png, png_bytep data, png_size_t count) {
  auto* e = static_cast<Encoding*>(png_get_io_ptr(png));
  try {
    e->Out->insert(e->Out->end(), data, data + count);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");
  }
}

void FlushOutput(png_structp) {}

bool RunEncoding(Encoding* e) {
  if (setjmp(e->Fail.Jump)) return false;
  png_set_write_fn(e->Png, e, WriteOutput, FlushOutput);
  png_set_IHDR(e->Png, e->Info, png_uint_32(e->Width), png_uint_32(e->Height), 8,
               e->Channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(e->Png, e->Info);
  e->Rows.resize(std::size_t(e->Height));
  const std::size_t stride = std::size_t(e->Width) * std::size_t(e->Channels);
  // libpng takes non-const rows but only reads them when writing.
  for (int y = 0; y < e->Height; ++y)
    e->Rows[std::size_t(y)] = const_cast<png_bytep>(e->Pixels.data() + std::size_t(y) * stride);
  png_write_image(e->Png, e->Rows.data());
  png_write_end(e->Png, nullptr);
  return true;
}

void SetError(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
}

}  // namespace

bool EncodePng(int width, int height, int channels, std::span<const std::uint8_t> pixels,
               std::vector<std::uint8_t>* out, std::string* error) {
  if (width < 1 || height < 1 || png_uint_32(width) > kLargestSide || png_uint_32(height) > kLargestSide ||
      (channels != 3 && channels != 4)) {
    SetError(error, "cannot write a PNG of " + std::to_string(width) + " x " + std::to_string(height) + " with " +
                        std::to_string(channels) + " channels");
    return false;
  }
  if (pixels.size() != std::size_t(width) * std::size_t(height) * std::size_t(channels)) {
    SetError(error, "the pixels do not fill a " + std::to_string(width) + " x " + std::to_string(height) + " picture");
    return false;
  }
  Encoding e;
  e.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &e.Fail, OnError, OnWarning);
  if (e.Png != nullptr) e.Info = png_create_info_struct(e.Png);
  if (e.Png == nullptr || e.Info == nullptr) {
    png_destroy_write_struct(&e.Png, &e.Info);
    SetError(error, "libpng could not start");
    return false;
  }
  std::vector<std::uint8_t> bytes;
  e.Out = &bytes;
  e.Width = width;
  e.Height = height;
  e.Channels = channels;
  e.Pixels = pixels;
  const bool ok = RunEncoding(&e);
  png_destroy_write_struct(&e.Png, &e.Info);
  if (!ok) {
    SetError(error, std::string("libpng: ") + e.Fail.Message);
    return false;
  }
  *out = std::move(bytes);
  return true;
}

bool WritePng(const std::string& path, int width, int height, int channels, std::span<const std::uint8_t> pixels,
              std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!EncodePng(width, height, channels, pixels, &bytes, error)) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  file.close();
  if (!file) {
    SetError(error, "cannot be written");
    return false;
  }
  return true;
}

bool ReadPalettePng(std::span<const std::uint8_t> bytes, int* width, int* height, std::vector<std::uint8_t>* indices,
                    std::array<std::uint8_t, 768>* palette, std::string* error) {
  constexpr std::size_t kSignature = 8;
  if (bytes.size() < kSignature || png_sig_cmp(bytes.data(), 0, kSignature) != 0) {
    SetError(error, "is not a PNG file");
    return false;
  }
  Decoding d;
  d.Input = bytes;
  d.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d.Fail, OnError, OnWarning);
  if (d.Png != nullptr) d.Info = png_create_info_struct(d.Png);
  if (d.Png == nullptr || d.Info == nullptr) {
    png_destroy_read_struct(&d.Png, &d.Info, nullptr);
    SetError(error, "libpng could not start");
    return false;
  }
  const bool ok = RunDecoding(&d);
  png_destroy_read_struct(&d.Png, &d.Info, nullptr);
  if (!ok) {
    SetError(error, !d.Refusal.empty() ? d.Refusal : std::string("is a damaged PNG: ") + d.Fail.Message);
    return false;
  }
  *width = int(d.Width);
  *height = int(d.Height);
  *indices = std::move(d.Indices);
  *palette = d.Palette;
  return true;
}

bool PalettePngToPcx(std::span<const std::uint8_t> png, std::vector<std::uint8_t>& pcx, std::string& error) {
  int width = 0, height = 0;
  std::vector<std::uint8_t> indices;
  std::array<std::uint8_t, 768> palette{};
  if (!ReadPalettePng(png, &width, &height, &indices, &palette, &error)) return false;
  pcx = EncodePcx(width, height, indices, palette);
  return true;
}

}  // namespace korvane::release
