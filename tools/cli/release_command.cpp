// korvane release: makes a packager's own installer from a release folder without a compiler.
// The payload is packed into volumes, and a prebuilt korvane.exe (the stub) is copied with its
// release resources replaced. Every input is checked before anything is written; the outputs
// are made in a folder of their own inside OUTDIR and moved into place only when all are done.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "archive/archive_writer.h"
#include "tools/cli/charset.h"
#include "tools/cli/commands.h"
#include "tools/cli/options.h"
#include "tools/cli/progress_line.h"
#include "tools/cli/terminal.h"
#include "tools/cli/values.h"
#include "tools/release/pe_resources.h"
#include "tools/release/release_source.h"
#ifdef KORVANE_PNG_PREVIEW
#include "tools/release/png_io.h"
#endif

namespace korvane::cli {
namespace fs = std::filesystem;
using release::Bytes;
using release::Problem;
using release::Resource;

namespace {

constexpr OptionEntry kReleaseOptions[] = {
    {.Short = "m", .Value = "N", .Help = "-m0 stores, -m1 packs fastest ... -m5 smallest (default -m5)", .Attached = true},
    {.Long = "volumes", .Value = "N", .Help = "split the payload into exactly N volumes (1 to 99)"},
    {.Long = "volume-size", .Value = "BYTES",
     .Help = "volumes of at most BYTES (suffix k or m; default 1457664, a 1.44 MB floppy)"},
    {.Long = "time", .Value = "TIME", .Help = "give every entry this time ('YYYY-MM-DD HH:MM:SS'), for the same bytes on\n"
                                              "every run"},
    {.Long = "stub", .Value = "FILE", .Help = "the korvane.exe to stamp (default: the one this tool was built or\n"
                                              "installed with)"},
    {.Short = "f", .Help = "replace the installer, volumes and korvane.nfo in OUTDIR if they exist"},
    {.Short = "q", .Help = "no progress and no summary"},
};

const CommandTable kReleaseCommand{
    .Name = "release",
    .Options = kReleaseOptions,
    .Operands = "SOURCE OUTDIR",
    .Description = "Makes a ready installer from the release folder SOURCE (main.pcx, progress.pcx,\n"
                   "caption.txt, korvane.mod, korvane.nfo, payload/; optionally archive-name.txt,\n"
                   "korvane.ico, payload-attributes.txt) in OUTDIR: NAME.exe, the volumes NAME.rar,\n"
                   "NAME.r00 ... and korvane.nfo. The payload is packed solid.",
    .Epilogue = "exit status: 0 made, 1 writing failed, 2 a usage error, a problem with an input, no stub,\n"
                "or outputs that exist without -f; 128 + the signal when interrupted. Only a\n"
                "finished release is left in OUTDIR.",
};

constexpr std::uint64_t kFloppyVolume = 1457664;  // what a 1.44 MB floppy holds
constexpr std::size_t kMostVolumes = 99;          // two digits of the count resource

struct ReleaseArguments {
  PackOptions Options;
  std::size_t Volumes = 0;  // 0: by size
  std::string Stub, Source, OutDir;
  bool Force = false, Quiet = false;
};

int UsageError(const std::string& message) { return cli::UsageError(kReleaseCommand, message); }
int Refuse(const std::string& message) {
  std::fprintf(stderr, "korvane release: %s\n", message.c_str());
  return 2;
}
int Fail(const std::string& message) {
  std::fprintf(stderr, "korvane release: %s\n", message.c_str());
  return 1;
}

int ParseArguments(int argc, char** argv, ReleaseArguments& args) {
  ParsedArgs parsed;
  if (const int status = ParseCommandLine(kReleaseCommand, argc, argv, parsed); status >= 0) return status;
  PackOptions& o = args.Options;
  o.Level = 5;
  o.Solid = true;
  o.HostOs = kHostWindows;
  o.VolumeSize = kFloppyVolume;
  if (const char* level = parsed.Value("m"); level != nullptr && !ParseLevel(level, o.Level))
    return UsageError("-m takes a level from 0 to 5, not '" + std::string(level) + "'");
  if (parsed.Has("volumes") && parsed.Has("volume-size")) return UsageError("give --volumes or --volume-size, not both");
  if (const char* count = parsed.Value("volumes")) {
    std::uint64_t n = 0;
    if (!ParsePositive(count, false, n) || n > kMostVolumes)
      return UsageError("--volumes needs a count from 1 to 99, not '" + std::string(count) + "'");
    args.Volumes = static_cast<std::size_t>(n);
  }
  if (const char* size = parsed.Value("volume-size"); size != nullptr && !ParsePositive(size, true, o.VolumeSize))
    return UsageError("--volume-size needs a positive size, not '" + std::string(size) + "'");
  if (const char* time = parsed.Value("time")) {
    std::uint32_t t = 0;
    if (!ParseDosTime(time, t)) return UsageError("--time needs YYYY-MM-DD HH:MM:SS, not '" + std::string(time) + "'");
    o.FixedDosTime = t;
  }
  if (const char* stub = parsed.Value("stub")) args.Stub = stub;
  args.Force = parsed.Has("f");
  args.Quiet = parsed.Has("q");
  args.Source = parsed.Operands()[0];
  args.OutDir = parsed.Operands()[1];
  return -1;
}

// Prints every problem; true when none is more than a warning.
bool Report(const std::vector<Problem>& problems) {
  bool ok = true;
  for (const Problem& p : problems) {
    std::fprintf(stderr, "korvane release: %s%s: %s\n", p.Warning ? "warning: " : "", p.File.c_str(), p.What.c_str());
    ok = ok && p.Warning;
  }
  return ok;
}

bool ReadFile(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// This program's own path, for the stub installed beside it.
fs::path OwnPath() {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return n > 0 && n < sizeof path ? fs::path(std::string(path, n)) : fs::path();
#else
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec);
#endif
}

// --stub, else share/korvane/ beside the installed tool, else the stub of the build tree.
std::vector<fs::path> StubPlaces(const ReleaseArguments& args) {
  if (!args.Stub.empty()) return {args.Stub};
  std::vector<fs::path> places;
  if (const fs::path self = OwnPath(); !self.empty()) {
    places.push_back(self.parent_path().parent_path() / "share" / "korvane" / "korvane.exe");
    places.push_back(self.parent_path() / "share" / "korvane" / "korvane.exe");
  }
#ifdef KORVANE_BUILD_STUB
  places.push_back(KORVANE_BUILD_STUB);
#endif
  return places;
}

// The stub's bytes and resources; it must carry every release resource to be one of ours.
int LoadStub(const ReleaseArguments& args, Bytes& stub, std::vector<Resource>& resources) {
  std::error_code ec;
  for (const fs::path& place : StubPlaces(args)) {
    if (!fs::is_regular_file(place, ec)) continue;
    std::string error;
    if (!ReadFile(place.string(), stub) || !release::ReadResources(stub, &resources, &error))
      return Refuse(place.string() + ": cannot be read as a Windows program" + (error.empty() ? "" : ": " + error));
    for (std::uint16_t id = 140; id <= 145; ++id)
      if (std::none_of(resources.begin(), resources.end(),
                       [&](const Resource& r) { return r.type == release::kResourceData && r.id == id; }))
        return Refuse(place.string() + ": is not a korvane.exe installer (it has no resource " + std::to_string(id) +
                      ")");
    return 0;
  }
  if (!args.Stub.empty()) return Refuse(args.Stub + ": no such file");
  return Refuse("no installer stub (korvane.exe) found beside this tool (share/korvane/) or in its build "
                "tree; build it with 'cmake --preset win32 && cmake --build --preset win32' "
                "(build/win32/ui/korvane.exe) or give --stub FILE");
}

Resource Data(std::uint16_t id, Bytes bytes) {
  return Resource{release::kResourceData, id, release::kLanguageEnglishUs, std::move(bytes)};
}

// The stub's resources with the release's own put in; the volume count comes last, once known.
int ReleaseResources(const release::ReleaseSource& source, std::vector<Resource> stubResources,
                     std::vector<Resource>& out) {
  std::vector<Resource> own = {Data(140, source.ArchiveNameResource), Data(142, source.Caption),
                               Data(143, source.MainPicture), Data(144, source.ProgressPicture),
                               Data(145, source.Module)};
  if (!source.Icon.empty()) {
    std::string error;
    std::vector<Resource> icons;
    if (!release::IconResourcesFromIco(source.Icon, 154, 1, release::kLanguageEnglishUs, &icons, &error))
      return Refuse("korvane.ico: " + error);
    own.insert(own.end(), icons.begin(), icons.end());
  }
  out = release::MergeResources(std::move(stubResources), std::move(own), !source.Icon.empty());
  return 0;
}

std::string VolumeCountText(std::size_t count) {
  char text[3];
  std::snprintf(text, sizeof text, "%02zu", count);
  return text;
}

// The names the release writes in OUTDIR, in the order they are moved into place.
struct Outputs {
  std::vector<std::string> Volumes;  // file names only
  std::string Installer, Nfo = "korvane.nfo";
  std::vector<std::string> All() const {
    std::vector<std::string> all = Volumes;
    all.push_back(Nfo);
    all.push_back(Installer);
    return all;
  }
};

int RefuseExisting(const ReleaseArguments& args, const Outputs& outputs) {
  if (args.Force) return 0;
  std::error_code ec;
  for (const std::string& name : outputs.All())
    if (fs::exists(fs::symlink_status(fs::path(args.OutDir) / name, ec)))
      return Refuse((fs::path(args.OutDir) / name).string() + " exists; use -f to replace it");
  return 0;
}

// Entries named from their folders down, a folder before what is in it, as the packer lists them.
bool ArchiveOrder(const PackSource& a, const PackSource& b) {
  const auto key = [](std::string name) {
    std::replace(name.begin(), name.end(), '\\', '\x01');
    return name;
  };
  return key(a.Name) < key(b.Name);
}

// A folder entry for name (and the folders on its way that are not entries yet), dated like
// the entry it lies in.
void AddFolder(std::vector<PackSource>& sources, const std::string& name) {
  for (std::size_t end = name.find('\\');; end = name.find('\\', end + 1)) {
    const std::string part = name.substr(0, end);
    const auto known = std::find_if(sources.begin(), sources.end(), [&](const PackSource& s) { return s.Name == part; });
    if (known == sources.end()) {
      PackSource folder;
      folder.Name = part;
      folder.Directory = true;
      folder.Attributes = kDosDirectory;
      const std::size_t parent = part.rfind('\\');
      for (const PackSource& s : sources)
        if (parent != std::string::npos && s.Name == part.substr(0, parent)) folder.DosTime = s.DosTime;
      if (folder.DosTime == 0 && !sources.empty()) folder.DosTime = sources.front().DosTime;
      sources.push_back(folder);
    }
    if (end == std::string::npos) break;
  }
}

// What git cannot keep: read-only files and empty folders.
int ApplyAttributes(const release::ReleaseSource& source, std::vector<PackSource>& sources) {
  for (const release::PayloadAttribute& a : source.Attributes) {
    std::string name = a.Path;
    std::replace(name.begin(), name.end(), '/', '\\');
    while (!name.empty() && name.back() == '\\') name.pop_back();
    if (a.What == release::PayloadAttribute::Kind::kEmptyFolder) {
      AddFolder(sources, name);
      continue;
    }
    const auto file = std::find_if(sources.begin(), sources.end(), [&](const PackSource& s) { return s.Name == name; });
    if (file == sources.end()) return Refuse("payload-attributes.txt: '" + a.Path + "' is not packed (a link left out?)");
    file->Attributes |= kDosReadOnly;
  }
  std::stable_sort(sources.begin(), sources.end(), ArchiveOrder);
  return 0;
}

// The payload's entries for a Windows host, names in its code page.
int CollectPayload(const release::ReleaseSource& source, const PackOptions& options, std::vector<PackSource>& sources) {
  std::vector<std::string> links;
  std::string error;
  if (!CollectSources(source.PayloadTops, options, sources, links, error)) return Refuse("payload/: " + error);
  for (const std::string& link : links)
    std::fprintf(stderr, "korvane release: warning: payload/: left out the link '%s': it leads outside payload/\n",
                 link.c_str());
  if (const int status = ApplyAttributes(source, sources); status != 0) return status;
  const NameEncoder encoder("CP1252");
  for (PackSource& s : sources)
    if (!encoder.Encode(s.Name))
      return Refuse("payload/: '" + s.Name + "' has a character Windows code page 1252 cannot hold");
  return 0;
}

// Packs the payload into packedPath and lays out the volumes: exactly args.Volumes, or as
// many as volumes of the chosen size need, at most 99.
int PackPayload(const ReleaseArguments& args, PackOptions& options, std::vector<PackSource>& sources,
                const std::string& packedPath, std::vector<VolumePlan>& plan) {
  std::uint64_t input = 0;
  for (const PackSource& s : sources) input += s.Size;
  ProgressLine progress(!args.Quiet && StderrIsTerminal(), false);
  options.Progress = [&](std::uint64_t done, std::uint64_t total) { progress.Update(done, total, "  packing payload/"); };
  std::string error;
  const bool packed = PackSources(sources, options, packedPath, error);
  progress.Clear();
  options.Progress = nullptr;
  if (!packed) return Fail("packing payload/: " + error);
  if (args.Volumes == 1) options.VolumeSize = 0;
  if (args.Volumes > 1) {
    const auto size = VolumeSizeForCount(sources, args.Volumes);
    if (!size) return Refuse("payload/: no volume size gives exactly " + std::to_string(args.Volumes) + " volumes");
    options.VolumeSize = *size;
  }
  if (!PlanVolumes(sources, options.VolumeSize, plan, error)) return Refuse("payload/: " + error);
  if (plan.size() > kMostVolumes)
    return Refuse("payload/: packs into " + std::to_string(plan.size()) + " volumes of at most " +
                  std::to_string(options.VolumeSize) + " bytes; the installer counts at most 99 (give a larger "
                  "--volume-size, or --volumes)");
  return 0;
}

// The files of a run that are not in place yet; an interrupted run removes them. The signal
// handler reads the list, which is complete before the count makes it visible.
struct StagedFiles {
  std::vector<std::string> Paths;  // the packed data, then every file in the staging folder
  std::string Folder;              // the staging folder
  std::atomic<std::size_t> Known{0};
};
std::atomic<StagedFiles*> g_staged{nullptr};

extern "C" void RemoveStagedAndExit(int signal) {
  if (const StagedFiles* staged = g_staged.load()) {
    for (std::size_t i = 0; i < staged->Known.load(); ++i) RemovePath(staged->Paths[i].c_str());
    if (!staged->Folder.empty()) RemoveFolder(staged->Folder.c_str());
  }
  _exit(128 + signal);
}

// Holds the run's unfinished files for the signal handler, and removes them however the run ends.
class StagingGuard {
 public:
  explicit StagingGuard(std::string packed) {
    staged_.Paths.push_back(std::move(packed));
    staged_.Known.store(1);
    g_staged.store(&staged_);
    for (const int signal : kStopSignals) std::signal(signal, RemoveStagedAndExit);
  }
  ~StagingGuard() {
    for (const int signal : kStopSignals) std::signal(signal, SIG_DFL);
    g_staged.store(nullptr);
    std::error_code ec;
    for (const std::string& path : staged_.Paths) fs::remove(path, ec);
    if (!staged_.Folder.empty()) fs::remove(staged_.Folder, ec);
  }
  StagingGuard(const StagingGuard&) = delete;
  StagingGuard& operator=(const StagingGuard&) = delete;

  const std::string& Packed() const { return staged_.Paths.front(); }
  // Names the staging folder and every file that will be made in it, before any is.
  void Stage(const std::string& folder, const std::vector<std::string>& files) {
    g_staged.store(nullptr);  // the handler never sees the list while it grows
    staged_.Folder = folder;
    for (const std::string& f : files) staged_.Paths.push_back(f);
    staged_.Known.store(staged_.Paths.size());
    g_staged.store(&staged_);
  }

 private:
  StagedFiles staged_;
};

bool WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out.good();
}

// Later volumes of an earlier, longer set of the same name (only -f gets this far over one):
// left beside the new set they would pass for a part of it.
void RemoveStaleVolumes(const fs::path& out, const std::string& archive, std::size_t count) {
  std::error_code ec;
  for (std::size_t n = count + 1; n <= kMostVolumes + 1; ++n) {
    const fs::path stale = out / VolumeNames(archive, n).back();
    if (!fs::is_regular_file(fs::symlink_status(stale, ec))) break;
    fs::remove(stale, ec);
  }
}

// Everything of the release into the staging folder, then each file moved into OUTDIR.
int WriteRelease(const ReleaseArguments& args, const release::ReleaseSource& source,
                 const std::vector<PackSource>& sources, const std::vector<VolumePlan>& plan,
                 const Bytes& installer, const Outputs& outputs, StagingGuard& guard) {
  const fs::path out(args.OutDir), staging = out / ".korvane-release.partial";
  std::error_code ec;
  fs::create_directories(out, ec);
  if (ec) return Fail(args.OutDir + ": cannot be made: " + ec.message());
  std::vector<std::string> staged;
  for (const std::string& name : outputs.All()) {
    staged.push_back((staging / name).string());
    staged.push_back(TemporaryVolumeName((staging / name).string()));
  }
  guard.Stage(staging.string(), staged);
  fs::remove_all(staging, ec);  // what an earlier run left, if it was cut off
  if (!fs::create_directory(staging, ec)) return Fail(staging.string() + ": cannot be made: " + ec.message());
  std::vector<std::string> written;
  std::string error;
  if (!WriteVolumes((staging / source.ArchiveName).string(), sources, plan, args.Options, written, error))
    return Fail(error);
  if (!WriteFile(staging / outputs.Nfo, source.Nfo) || !WriteFile(staging / outputs.Installer, installer))
    return Fail(staging.string() + ": writing failed (disk full?)");
  for (const std::string& name : outputs.All()) {
    fs::rename(staging / name, out / name, ec);
    if (ec) return Fail((out / name).string() + ": cannot be put in place: " + ec.message());
  }
  RemoveStaleVolumes(out, source.ArchiveName, outputs.Volumes.size());
  return 0;
}

// The installer's file name: the archive's stem with .exe.
std::string InstallerName(const std::string& archive) { return fs::path(archive).stem().string() + ".exe"; }

// Palette PNG pictures become the installer's PCX, where this build reads PNG.
release::PngToPcx PngPictures() {
#ifdef KORVANE_PNG_PREVIEW
  return release::PalettePngToPcx;
#else
  return nullptr;
#endif
}

int ReadInputs(const ReleaseArguments& args, release::ReleaseSource& source, Bytes& stub,
               std::vector<Resource>& resources) {
  std::vector<Problem> problems;
  source = release::ReadReleaseSource(args.Source, problems, PngPictures());
  if (!Report(problems)) return 2;
  std::vector<Resource> stubResources;
  if (const int status = LoadStub(args, stub, stubResources); status != 0) return status;
  return ReleaseResources(source, std::move(stubResources), resources);
}

}  // namespace

int RunReleaseCommand(int argc, char** argv) {
  ReleaseArguments args;
  if (const int status = ParseArguments(argc, argv, args); status >= 0) return status;
  release::ReleaseSource source;
  Bytes stub;
  std::vector<Resource> resources;
  if (const int status = ReadInputs(args, source, stub, resources); status != 0) return status;
  std::vector<PackSource> sources;
  if (const int status = CollectPayload(source, args.Options, sources); status != 0) return status;

  StagingGuard guard((fs::temp_directory_path() / ("korvane-release-" + std::to_string(ProcessId()) + ".packing")).string());
  std::vector<VolumePlan> plan;
  if (const int status = PackPayload(args, args.Options, sources, guard.Packed(), plan); status != 0) return status;
  Outputs outputs;
  for (const std::string& v : VolumeNames(source.ArchiveName, plan.size())) outputs.Volumes.push_back(v);
  outputs.Installer = InstallerName(source.ArchiveName);
  if (const int status = RefuseExisting(args, outputs); status != 0) return status;

  const std::string count = VolumeCountText(plan.size());
  resources = release::MergeResources(std::move(resources), {Data(141, Bytes(count.begin(), count.end()))}, false);
  Bytes installer;
  std::string error;
  if (!release::ReplaceResources(stub, resources, &installer, &error)) return Refuse("the stub: " + error);
  if (const int status = WriteRelease(args, source, sources, plan, installer, outputs, guard); status != 0)
    return status;
  if (!args.Quiet)
    std::printf("%s: %s (%zu bytes), %zu volume%s %s ..., korvane.nfo\n", args.OutDir.c_str(), outputs.Installer.c_str(),
                installer.size(), plan.size(), plan.size() == 1 ? "" : "s", source.ArchiveName.c_str());
  return 0;
}

}  // namespace korvane::cli
