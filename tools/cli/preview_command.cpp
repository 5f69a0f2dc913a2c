// korvane preview: draws what a user will see of a release folder (the main window, the
// buttons in each state, the progress window) into one PNG, so a packager can check the
// pictures and the caption without Windows.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/cli/commands.h"
#include "tools/cli/options.h"

#ifdef KORVANE_PNG_PREVIEW
#include "tools/release/png_io.h"
#include "tools/release/preview.h"
#include "tools/release/release_source.h"
#endif

namespace korvane::cli {
namespace {

constexpr OptionEntry kPreviewOptions[] = {
    {.Short = "f", .Help = "replace PNG if it exists"},
};

const CommandTable kPreviewCommand{
    .Name = "preview",
    .Options = kPreviewOptions,
    .Operands = "SOURCE PNG",
    .Description = "Draws the installer made from the release folder SOURCE as its user will see it, into\n"
                   "PNG: the main window with its title bar, the four buttons Normal, Hover and Pressed,\n"
                   "and the progress window with both gauges at 40%. SOURCE is checked as 'korvane\n"
                   "release' checks it.",
    .Epilogue = "exit status: 0 drawn, 1 PNG could not be written, 2 a usage error, a problem with\n"
                "SOURCE, or a PNG that exists without -f.",
};

int Refuse(const std::string& message) {
  std::fprintf(stderr, "korvane preview: %s\n", message.c_str());
  return 2;
}

#ifdef KORVANE_PNG_PREVIEW
namespace fs = std::filesystem;

int Fail(const std::string& message) {
  std::fprintf(stderr, "korvane preview: %s\n", message.c_str());
  return 1;
}

// The payload's first file in the order the archive lists its entries (a folder's name before
// what is in it), named as the progress window names it.
std::string FirstPayloadFile(const release::ReleaseSource& source) {
  std::string first, firstKey;
  std::error_code ec;
  for (const std::string& top : source.PayloadTops) {
    const fs::path base = fs::path(top).parent_path();
    const auto consider = [&](const fs::path& file) {
      std::string name = file.lexically_relative(base).generic_string(), key = name;
      for (char& c : key)
        if (c == '/') c = '\x01';
      if (first.empty() || key < firstKey) {
        for (char& c : name)
          if (c == '/') c = '\\';
        first = name;
        firstKey = key;
      }
    };
    if (fs::is_regular_file(top, ec)) consider(top);
    if (!fs::is_directory(top, ec)) continue;
    for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file(ec)) consider(it->path());
  }
  return first;
}

int Preview(const std::string& folder, const std::string& png, bool force) {
  std::error_code ec;
  if (!force && fs::exists(fs::symlink_status(png, ec))) return Refuse(png + " exists; use -f to replace it");
  std::vector<release::Problem> problems;
  const release::ReleaseSource source = release::ReadReleaseSource(folder, problems, release::PalettePngToPcx);
  bool usable = true;
  for (const release::Problem& p : problems) {
    std::fprintf(stderr, "korvane preview: %s%s: %s\n", p.Warning ? "warning: " : "", p.File.c_str(), p.What.c_str());
    usable = usable && p.Warning;
  }
  if (!usable) return 2;

  release::Image image;
  release::PreviewSamples samples;
  samples.FileName = FirstPayloadFile(source);
  if (!release::RenderPreview(source, image, samples)) return Refuse(folder + ": the pictures cannot be drawn");

  // Written beside the target and renamed, so that PNG is never left half written.
  const fs::path target(png);
  const fs::path partial = target.parent_path() / ("." + target.filename().string() + ".partial");
  std::string error;
  if (!release::WritePng(partial.string(), image.Width, image.Height, 3, image.Pixels, &error)) {
    fs::remove(partial, ec);
    return Fail(png + ": " + error);
  }
  fs::rename(partial, target, ec);
  if (ec) {
    const std::string why = ec.message();
    fs::remove(partial, ec);
    return Fail(png + ": cannot be written: " + why);
  }
  return 0;
}
#endif

}  // namespace

int RunPreviewCommand(int argc, char** argv) {
  ParsedArgs parsed;
  if (const int status = ParseCommandLine(kPreviewCommand, argc, argv, parsed); status >= 0) return status;
#ifdef KORVANE_PNG_PREVIEW
  return Preview(parsed.Operands()[0], parsed.Operands()[1], parsed.Has("f"));
#elif defined(_WIN32)
  return Refuse("not available in this build (PNG support needs the Linux tool)");
#else
  return Refuse("not available in this build (it was made without libpng)");
#endif
}

}  // namespace korvane::cli
