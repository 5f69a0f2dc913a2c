#include "tools/release/release_source.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "player/mod_player.h"
#include "player/module_check.h"
#include "ui/buttons.h"
#include "ui/pcx.h"

namespace korvane::release {
namespace fs = std::filesystem;

bool Checked::Ok() const {
  return std::none_of(Problems.begin(), Problems.end(), [](const Problem& p) { return !p.Warning; });
}

namespace {

Checked Refused(const std::string& file, std::string what) { return Checked{{}, {{file, std::move(what)}}}; }

bool Printable(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

// The text without the line ends and NULs an editor or a resource leaves behind it, and
// without trailing spaces where they are only padding.
std::span<const std::uint8_t> TrimEnd(std::span<const std::uint8_t> text, bool spaces) {
  std::size_t n = text.size();
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == 0 || (spaces && text[n - 1] == ' ')))
    --n;
  return text.first(n);
}

}  // namespace

Checked CheckArchiveName(std::span<const std::uint8_t> file) {
  const char* kFile = "archive-name.txt";
  const std::span<const std::uint8_t> name = TrimEnd(file, true);
  const std::string text(name.begin(), name.end());
  if (text.empty()) return Refused(kFile, "is empty; it holds the first volume's name, e.g. mygame.rar");
  if (text.size() > kArchiveNameLimit)
    return Refused(kFile, "'" + text + "' is longer than the installer's " + std::to_string(kArchiveNameLimit) +
                              " characters");
  for (const char c : text)
    if (!Printable(static_cast<std::uint8_t>(c)) || std::strchr(" \\/:*?\"<>|", c) != nullptr)
      return Refused(kFile, "'" + text + "' has a character a volume name cannot hold (spaces, separators, "
                            "control characters and :*?\"<>| are refused)");
  const std::size_t dot = text.rfind('.');
  if (dot == 0 || dot == std::string::npos || (text.substr(dot) != ".rar" && text.substr(dot) != ".RAR"))
    return Refused(kFile, "'" + text + "' must be a name ending in .rar");
  Checked out;
  out.Resource.assign(kArchiveNameBytes, ' ');
  std::copy(text.begin(), text.end(), out.Resource.begin());
  return out;
}

Checked CheckCaption(std::span<const std::uint8_t> file) {
  const char* kFile = "caption.txt";
  std::span<const std::uint8_t> text = file;
  bool marked = false;
  for (std::size_t i = 0; i + 1 < file.size(); ++i)
    if (file[i] == '~' && file[i + 1] == '~') {
      text = file.first(i);
      marked = true;
      break;
    }
  if (!marked) text = TrimEnd(text, false);  // a space at the end is a gap before the text comes round
  if (text.empty()) return Refused(kFile, "is empty; it holds the text that scrolls through the title bar");
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!Printable(text[i]))
      return Refused(kFile, "has a byte that is not printable ASCII at offset " + std::to_string(i) +
                                " (one line of plain text, no line breaks)");
  if (text.size() > kCaptionLimit)
    return Refused(kFile, "has " + std::to_string(text.size()) + " characters; the title bar ticker reads at most " +
                              std::to_string(kCaptionLimit));
  Checked out;
  out.Resource.assign(text.begin(), text.end());
  out.Resource.push_back('~');
  out.Resource.push_back('~');
  out.Resource.resize(kCaptionBytes, 0);
  return out;
}

namespace {

bool FlatColour(const ui::PcxPicture& p, const ui::PictureRect& r) {
  const std::uint8_t first = p.Pixels[r.Y1 * ui::kMainPictureRow + r.X1];
  for (int y = r.Y1; y < r.Y2; ++y)
    for (int x = r.X1; x < r.X2; ++x)
      if (p.Pixels[y * ui::kMainPictureRow + x] != first) return false;
  return true;
}

// A Hover or Pressed image of one flat colour shows the pointer or the click as an empty box:
// most likely that part of the picture was left empty.
void WarnOfEmptyButtons(const std::string& file, const ui::PcxPicture& picture, std::vector<Problem>& problems) {
  static const char* const kNames[] = {"Test", "Install", "NFO", "Exit"};
  static const char* const kKinds[] = {"", "Hover", "Pressed"};
  for (std::size_t b = 0; b < ui::kButtonCount; ++b)
    for (int kind = ui::kHoverImage; kind <= ui::kPressedImage; ++kind) {
      const ui::PictureRect& r = ui::kButtonSources[b][kind];
      if (FlatColour(picture, r))
        problems.push_back({file, std::string("the ") + kKinds[kind] + " image of the " + kNames[b] + " button (" +
                                      std::to_string(r.X1) + "," + std::to_string(r.Y1) + " to " +
                                      std::to_string(r.X2) + "," + std::to_string(r.Y2) + ") is one flat colour",
                            true});
    }
}

}  // namespace

Checked CheckPicture(const std::string& file, std::span<const std::uint8_t> bytes, int width, int height) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  ui::PcxPicture picture;
  std::size_t used = 0;
  if (!ui::DecodePcx(bytes, picture, &used) || bytes[2] != 1)
    return Refused(file, "is not an 8-bit, one-plane, run-length PCX (version 5) with a 256-colour palette");
  if (picture.Width() != width || picture.Height() != height)
    return Refused(file, "is " + std::to_string(picture.Width()) + " x " + std::to_string(picture.Height()) +
                             "; the installer needs " + size);
  const unsigned bytesPerLine = bytes[66] | (bytes[67] << 8);
  if (bytesPerLine != static_cast<unsigned>(width))
    return Refused(file, "stores " + std::to_string(bytesPerLine) + " bytes per line; the installer needs exactly " +
                             std::to_string(width));
  if (ui::kPcxHeaderSize + used + ui::kPcxPaletteTrailer != bytes.size())
    return Refused(file, "has bytes between its pixels and its palette that the installer would read as pixels");
  Checked out;
  out.Resource.assign(bytes.begin(), bytes.end());
  if (width == ui::kMainPictureRow) WarnOfEmptyButtons(file, picture, out.Problems);
  return out;
}

namespace {

constexpr std::size_t kTagOffset = 1080;

// The installer mixes four channels; a tag that names another count would lose voices.
bool TagNamesOtherThanFourChannels(std::span<const std::uint8_t> file) {
  if (file.size() < kTagOffset + 4) return false;
  const char* t = reinterpret_cast<const char*>(file.data() + kTagOffset);
  const auto is = [&](const char* tag) { return std::memcmp(t, tag, 4) == 0; };
  if (is("CD81") || is("OKTA") || is("OCTA") || is("FLT8") || is("TDZ8")) return true;
  if (t[0] >= '0' && t[0] <= '9' && std::memcmp(t + 1, "CHN", 3) == 0) return t[0] != '4';
  return t[0] >= '0' && t[0] <= '9' && t[1] >= '0' && t[1] <= '9' && t[2] == 'C' && t[3] == 'H';
}

}  // namespace

Checked CheckModule(std::span<const std::uint8_t> file) {
  const char* kFile = "korvane.mod";
  if (!LooksLikeModule(file.data(), file.size()))
    return Refused(kFile, "is not a Protracker module (no M.K. tag, and no sane 15-sample layout)");
  if (TagNamesOtherThanFourChannels(file))
    return Refused(kFile, "has " + std::string(reinterpret_cast<const char*>(file.data() + kTagOffset), 4) +
                              " channels; the installer plays four-channel modules (M.K.)");
  auto player = std::make_unique<ModPlayer>();
  if (LoadModule(*player, file.data(), file.size()) != 1) return Refused(kFile, "cannot be loaded");
  // A measure of 0 means no row came round again within the second: it plays longer.
  const std::int64_t frames = MeasureSongFrames(*player, kOutputRate);
  (FreeModule)(*player);
  if (frames != 0 && frames < kOutputRate)
    return Refused(kFile, "plays for " + std::to_string(frames * 1000 / kOutputRate) +
                              " ms before it repeats; the installer needs at least one second");
  Checked out;
  out.Resource.assign(file.begin(), file.end());
  return out;
}

Checked CheckNfo(std::span<const std::uint8_t> file) {
  Checked out;
  bool mended = false;
  for (std::size_t i = 0; i < file.size(); ++i) {
    const std::uint8_t c = file[i];
    if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n') {
      out.Resource.insert(out.Resource.end(), {'\r', '\n'});
      ++i;
    } else if (c == '\r' || c == '\n') {
      out.Resource.insert(out.Resource.end(), {'\r', '\n'});
      mended = true;
    } else {
      out.Resource.push_back(c);
    }
  }
  if (mended) out.Problems.push_back({"korvane.nfo", "had line ends other than CR LF; they are converted", true});
  return out;
}

std::vector<PayloadAttribute> ParsePayloadAttributes(std::span<const std::uint8_t> file,
                                                     std::vector<Problem>& problems) {
  std::vector<PayloadAttribute> out;
  const std::string text(file.begin(), file.end());
  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto take = [&](const char* word, PayloadAttribute::Kind kind) {
      const std::size_t n = std::strlen(word);
      if (line.compare(0, n, word) != 0 || line.size() == n) return false;
      out.push_back({kind, line.substr(n)});
      return true;
    };
    if (!take("readonly ", PayloadAttribute::Kind::kReadOnly) &&
        !take("emptydir ", PayloadAttribute::Kind::kEmptyFolder))
      problems.push_back({"payload-attributes.txt", "line " + std::to_string(lineNumber) + ": '" + line +
                                                        "' is neither 'readonly PATH' nor 'emptydir PATH'"});
  }
  return out;
}

namespace {

constexpr std::size_t kLargestInput = 64u << 20;  // no resource of the installer comes near it

// Reads folder/name whole; a missing or unreadable required file is a problem of its own.
bool ReadInput(const std::string& folder, const std::string& name, bool required, Bytes& out,
               std::vector<Problem>& problems) {
  const fs::path path = fs::path(folder) / name;
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    if (required) problems.push_back({name, "is missing"});
    return false;
  }
  if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > kLargestInput) {
    problems.push_back({name, "is not a file of at most 64 MiB"});
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    problems.push_back({name, "cannot be read"});
    return false;
  }
  return true;
}

// Runs a check on a file read whole, keeping its resource and its problems.
template <typename Check>
void TakeChecked(const std::string& folder, const std::string& name, bool required, Bytes& resource,
                 std::vector<Problem>& problems, Check check) {
  Bytes bytes;
  if (!ReadInput(folder, name, required, bytes, problems)) return;
  Checked c = check(std::span<const std::uint8_t>(bytes));
  problems.insert(problems.end(), c.Problems.begin(), c.Problems.end());
  resource = std::move(c.Resource);
}

void ReadPayload(const std::string& folder, ReleaseSource& source, std::vector<Problem>& problems) {
  const fs::path payload = fs::path(folder) / "payload";
  std::error_code ec;
  if (!fs::is_directory(payload, ec)) {
    problems.push_back({"payload/", "is missing; it holds what the installer installs"});
    return;
  }
  for (const auto& item : fs::directory_iterator(payload, ec)) source.PayloadTops.push_back(item.path().string());
  std::sort(source.PayloadTops.begin(), source.PayloadTops.end());
  if (ec || source.PayloadTops.empty()) problems.push_back({"payload/", ec ? "cannot be read" : "is empty"});
  Bytes attributes;
  if (ReadInput(folder, "payload-attributes.txt", false, attributes, problems))
    source.Attributes = ParsePayloadAttributes(attributes, problems);
  for (const PayloadAttribute& a : source.Attributes) {
    const fs::path path = payload / a.Path;
    const bool outside = a.Path.empty() || a.Path.front() == '/' || a.Path.find("..") != std::string::npos;
    if (outside)
      problems.push_back({"payload-attributes.txt", "'" + a.Path + "' is not a path inside payload/"});
    else if (a.What == PayloadAttribute::Kind::kReadOnly && !fs::is_regular_file(path, ec))
      problems.push_back({"payload-attributes.txt", "no such file in payload/: " + a.Path});
  }
}

// stem.pcx, or stem.png converted to one; never both, which would leave the choice to chance.
void TakePicture(const std::string& folder, const std::string& stem, int width, int height, Bytes& resource,
                 std::vector<Problem>& problems, const PngToPcx& pngToPcx) {
  const std::string pcx = stem + ".pcx", png = stem + ".png";
  std::error_code ec;
  const bool hasPng = fs::exists(fs::path(folder) / png, ec);
  if (hasPng && fs::exists(fs::path(folder) / pcx, ec)) {
    problems.push_back({png, "is there beside " + pcx + "; keep one of them"});
    return;
  }
  if (!hasPng) {
    TakeChecked(folder, pcx, true, resource, problems,
                [&](std::span<const std::uint8_t> bytes) { return CheckPicture(pcx, bytes, width, height); });
    return;
  }
  if (!pngToPcx) {
    problems.push_back({png, "PNG pictures need a build with PNG support (the Linux tool); give " + pcx});
    return;
  }
  TakeChecked(folder, png, true, resource, problems, [&](std::span<const std::uint8_t> bytes) {
    Bytes converted;
    std::string error;
    if (!pngToPcx(bytes, converted, error)) return Refused(png, error);
    return CheckPicture(png, converted, width, height);
  });
}

}  // namespace

ReleaseSource ReadReleaseSource(const std::string& folder, std::vector<Problem>& problems, const PngToPcx& pngToPcx) {
  ReleaseSource s;
  s.Folder = folder;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    problems.push_back({folder, "is not a folder"});
    return s;
  }
  TakePicture(folder, "main", 300, 503, s.MainPicture, problems, pngToPcx);
  TakePicture(folder, "progress", 428, 322, s.ProgressPicture, problems, pngToPcx);
  TakeChecked(folder, "caption.txt", true, s.Caption, problems, CheckCaption);
  TakeChecked(folder, "korvane.mod", true, s.Module, problems, CheckModule);
  TakeChecked(folder, "korvane.nfo", true, s.Nfo, problems, CheckNfo);
  static const std::uint8_t kDefaultName[] = "korvane.rar";
  s.ArchiveNameResource = CheckArchiveName(std::span(kDefaultName, sizeof kDefaultName - 1)).Resource;
  TakeChecked(folder, "archive-name.txt", false, s.ArchiveNameResource, problems, CheckArchiveName);
  if (!s.ArchiveNameResource.empty()) {
    const auto space = std::find(s.ArchiveNameResource.begin(), s.ArchiveNameResource.end(), ' ');
    s.ArchiveName.assign(s.ArchiveNameResource.begin(), space);
  }
  ReadInput(folder, "korvane.ico", false, s.Icon, problems);
  ReadPayload(folder, s, problems);
  return s;
}

}  // namespace korvane::release
