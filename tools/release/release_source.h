// A packager's release folder: main.pcx, progress.pcx, caption.txt, korvane.mod,
// korvane.nfo, payload/, and optionally archive-name.txt, korvane.ico and
// payload-attributes.txt. Every file is checked before anything is written, and each problem
// is named with its file; what passes comes back as the bytes the installer's resources hold.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace korvane::release {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kArchiveNameBytes = 16;   // RCDATA 140, padded with spaces
inline constexpr std::size_t kArchiveNameLimit = 14;   // what the installer copies of it
inline constexpr std::size_t kCaptionBytes = 528;      // RCDATA 142
inline constexpr std::size_t kCaptionLimit = 498;      // the marker must start before byte 499

struct Problem {
  std::string File;  // relative to the release folder
  std::string What;
  bool Warning = false;  // the file was mended and the release goes on
};

// What one check found: the resource bytes, or the problems that keep them from being made.
struct Checked {
  Bytes Resource;
  std::vector<Problem> Problems;
  bool Ok() const;
};

// One rule per input, each on the file's bytes alone.
Checked CheckArchiveName(std::span<const std::uint8_t> file);  // gives the 16-byte resource
Checked CheckCaption(std::span<const std::uint8_t> file);      // gives the 528-byte resource
Checked CheckPicture(const std::string& file, std::span<const std::uint8_t> bytes, int width, int height);
Checked CheckModule(std::span<const std::uint8_t> file);
Checked CheckNfo(std::span<const std::uint8_t> file);  // gives the text with CR LF line ends

// A line of payload-attributes.txt: a file to mark read-only, or an empty folder to add.
struct PayloadAttribute {
  enum class Kind { kReadOnly, kEmptyFolder } What;
  std::string Path;  // relative to payload/, '/' separated
};
std::vector<PayloadAttribute> ParsePayloadAttributes(std::span<const std::uint8_t> file,
                                                     std::vector<Problem>& problems);

struct ReleaseSource {
  std::string Folder;
  std::string ArchiveName;  // e.g. "mygame.rar"
  Bytes ArchiveNameResource, Caption, MainPicture, ProgressPicture, Module, Nfo, Icon;  // Icon may be empty
  std::vector<std::string> PayloadTops;  // the paths below payload/ that are packed, sorted
  std::vector<PayloadAttribute> Attributes;
};

// Turns a palette PNG into the installer's PCX; false with the reason otherwise.
using PngToPcx = std::function<bool(std::span<const std::uint8_t> png, Bytes& pcx, std::string& error)>;

// Reads and checks every file of folder. Problems (warnings included) are appended in the
// order of the files; the source is usable when none of them is more than a warning. A
// picture may come as main.png / progress.png instead, when pngToPcx is given.
ReleaseSource ReadReleaseSource(const std::string& folder, std::vector<Problem>& problems,
                                const PngToPcx& pngToPcx = nullptr);

}  // namespace korvane::release
