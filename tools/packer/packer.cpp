// Collects files, packs them, lays their data out over volumes and writes the volumes.
// Header layout: 7-byte signature, 13-byte main header, then per part a 32-byte file header,
// the name and the part's data bytes. Header checksums are the low 16 bits of the
// complemented CRC-32 of the header from its type byte on.
#include "tools/packer/packer.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/archive_format.h"
#include "engine/checksum.h"
#include "pack/encoder.h"

namespace korvane::packer {
namespace fs = std::filesystem;
namespace {

// The layout's block types and flags are the reader's own (engine/); only what a reader
// never needs to name is defined here.
constexpr std::uint16_t kMainVolume = 0x0001;
constexpr std::uint8_t kUnpackVersion = 20;
// The dictionary bits of a packed entry: 1 MiB, the window the packer uses, as the corpus
// manifests read them.
constexpr std::uint16_t kDictionary1M = 0x0080;
constexpr std::uint32_t kVolumeLead = sizeof kNewSignature + kNewMainHeaderSize;
constexpr std::uint32_t kDosReadOnly = 0x01;
constexpr std::uint32_t kDosDirectory = 0x10;
constexpr std::uint32_t kDosArchive = 0x20;
constexpr std::uint32_t kUnixDirectoryType = 0040000;
constexpr std::uint32_t kUnixFileType = 0100000;
constexpr std::size_t kCopyChunk = 1 << 16;

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool SeekTo(std::FILE* f, std::uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::uint64_t HeaderBytes(const PackSource& s) { return kNewFileHeaderSize + s.Name.size(); }
bool Packed(const PackSource& s) { return s.Method != kMethodStored; }
// Bytes of the entry in the volumes, and where they come from.
std::uint64_t DataSize(const PackSource& s) { return Packed(s) ? s.PackedSize : s.Size; }
const std::string& DataPath(const PackSource& s) { return s.DataPath.empty() ? s.Path : s.DataPath; }

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFFu);
  Put16(out, v >> 16);
}

// The checksum field covers everything from the type byte on, so it is filled last.
void SealHeader(std::vector<std::uint8_t>& header) {
  const std::uint32_t crc = ~UpdateCrc32(0xFFFFFFFFu, header.data() + 2, header.size() - 2);
  header[0] = static_cast<std::uint8_t>(crc);
  header[1] = static_cast<std::uint8_t>(crc >> 8);
}

std::vector<std::uint8_t> MainHeader(bool volumes, bool solid) {
  std::vector<std::uint8_t> h = {0, 0, kMainHead};
  Put16(h, (volumes ? kMainVolume : 0) | (solid ? kSolidArchiveFlag : 0));
  Put16(h, kNewMainHeaderSize);
  Put16(h, 0);  // reserved
  Put32(h, 0);  // reserved
  SealHeader(h);
  return h;
}

std::vector<std::uint8_t> FileHeader(const PackSource& s, const PartPlan& part, std::uint8_t hostOs,
                                     std::uint32_t fileCrc) {
  std::uint16_t flags = kLongBlock;
  if (part.ContinuesFromPrevious) flags |= kSplitBefore;
  if (part.ContinuesInNext) flags |= kSplitAfter;
  // Readers of Unix-made archives know a directory only by these three bits; they are what
  // the format's own archivers write for directories from every host, so set them always.
  if (s.Directory) flags |= kDirectoryBits;
  if (s.Solid) flags |= kSolidEntry;
  if (Packed(s)) flags |= kDictionary1M;
  std::vector<std::uint8_t> h = {0, 0, kFileHead};
  Put16(h, flags);
  Put16(h, static_cast<std::uint32_t>(HeaderBytes(s)));
  Put32(h, static_cast<std::uint32_t>(part.Size));
  Put32(h, static_cast<std::uint32_t>(s.Size));
  h.push_back(hostOs);
  Put32(h, fileCrc);
  Put32(h, s.DosTime);
  h.push_back(kUnpackVersion);
  h.push_back(s.Method);
  Put16(h, static_cast<std::uint32_t>(s.Name.size()));
  Put32(h, s.Attributes);
  h.insert(h.end(), s.Name.begin(), s.Name.end());
  SealHeader(h);
  return h;
}

std::uint32_t DosTimeOf(const fs::file_time_type& t) {
  const auto sys = std::chrono::file_clock::to_sys(t);
  const std::time_t tt = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(sys));
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &tt) != 0) return DosTime(1980, 1, 1, 0, 0, 0);
#else
  if (localtime_r(&tt, &local) == nullptr) return DosTime(1980, 1, 1, 0, 0, 0);
#endif
  return DosTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                 local.tm_sec);
}

std::uint32_t AttributesOf(const fs::file_status& st, bool directory, std::uint8_t hostOs) {
  const auto perms = static_cast<std::uint32_t>(st.permissions() & fs::perms::mask);
  if (hostOs == kHostUnix) return (directory ? kUnixDirectoryType : kUnixFileType) | perms;
  if (directory) return kDosDirectory;
  const bool writable = (st.permissions() & fs::perms::owner_write) != fs::perms::none;
  return kDosArchive | (writable ? 0 : kDosReadOnly);
}

// What a walk is given and what it leaves out.
struct Walk {
  const PackOptions& Options;
  std::vector<fs::path> Roots;  // the given paths, resolved
  std::vector<PackSource>& Sources;
  std::vector<std::string>& SkippedLinks;
};

bool Contains(const fs::path& root, const fs::path& path) {
  const auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
  return r == root.end();
}

// A link is followed when it stays inside what is being packed and cannot lead the walk in a
// circle (a link to a folder it lies in would be walked for ever).
bool FollowLink(const fs::path& link, const Walk& walk) {
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(link, ec);
  if (ec) return walk.Options.FollowAllLinks;
  if (fs::is_directory(target, ec) && Contains(target, fs::weakly_canonical(link.parent_path(), ec))) return false;
  if (walk.Options.FollowAllLinks) return true;
  return std::any_of(walk.Roots.begin(), walk.Roots.end(),
                     [&](const fs::path& root) { return Contains(root, target); });
}

// The archive separates folders with '\', so a Unix file name with one in it would come back
// as a folder and a file.
bool NamePartFits(const fs::path& path, const std::string& part, std::string& error) {
  if (part.find('\\') == std::string::npos) return true;
  error = "cannot store '" + path.string() + "': its name has a '\\', which archives take for a folder separator";
  return false;
}

bool AddSource(const fs::path& path, const std::string& name, Walk& walk, std::string& error) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(path, ec)) && !FollowLink(path, walk)) {
    walk.SkippedLinks.push_back(path.string());
    return true;
  }
  const PackOptions& options = walk.Options;
  std::vector<PackSource>& sources = walk.Sources;
  const fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) {
    error = "cannot find '" + path.string() + "'";
    return false;
  }
  if (name.size() > kMaxNameBytes) {
    error = "name longer than " + std::to_string(kMaxNameBytes) + " bytes: '" + name + "'";
    return false;
  }
  PackSource s;
  s.Name = name;
  s.Path = path.string();
  s.Directory = fs::is_directory(st);
  if (!s.Directory && !fs::is_regular_file(st)) {
    error = "'" + path.string() + "' is neither a file nor a directory";
    return false;
  }
  s.Attributes = AttributesOf(st, s.Directory, options.HostOs);
  if (options.FixedDosTime) {
    s.DosTime = *options.FixedDosTime;
  } else {
    const auto t = fs::last_write_time(path, ec);
    s.DosTime = ec ? DosTime(1980, 1, 1, 0, 0, 0) : DosTimeOf(t);
  }
  if (!s.Directory) {
    s.Size = fs::file_size(path, ec);
    if (ec) {
      error = "cannot read '" + path.string() + "': " + ec.message();
      return false;
    }
    // Both size fields of a file header are 32 bits wide.
    if (s.Size > 0xFFFFFFFFull) {
      error = "'" + path.string() + "' is 4 GiB or larger, which the archive layout cannot store";
      return false;
    }
    File f(std::fopen(s.Path.c_str(), "rb"));
    if (!f) {
      error = "cannot read '" + path.string() + "'";
      return false;
    }
  }
  sources.push_back(s);
  if (!s.Directory) return true;

  std::vector<fs::path> children;
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
    children.push_back(it->path());
  if (ec) {
    error = "cannot read directory '" + path.string() + "': " + ec.message();
    return false;
  }
  std::sort(children.begin(), children.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
  for (const fs::path& child : children) {
    const std::string part = child.filename().string();
    if (!NamePartFits(child, part, error) || !AddSource(child, name + "\\" + part, walk, error)) return false;
  }
  return true;
}

}  // namespace

std::uint32_t DosTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return (1u << 21) | (1u << 16);
  if (year > 2107) year = 2107;
  return static_cast<std::uint32_t>(year - 1980) << 25 | static_cast<std::uint32_t>(month) << 21 |
         static_cast<std::uint32_t>(day) << 16 | static_cast<std::uint32_t>(hour) << 11 |
         static_cast<std::uint32_t>(minute) << 5 | static_cast<std::uint32_t>(second / 2);
}

bool CollectSources(const std::vector<std::string>& paths, const PackOptions& options,
                    std::vector<PackSource>& sources, std::vector<std::string>& skippedLinks, std::string& error) {
  sources.clear();
  skippedLinks.clear();
  Walk walk{options, {}, sources, skippedLinks};
  for (const std::string& arg : paths) {
    std::error_code ec;
    walk.Roots.push_back(fs::weakly_canonical(arg, ec));
  }
  for (const std::string& arg : paths) {
    fs::path p(arg);
    std::string base = p.filename().string();
    if (base.empty() || base == "." || base == "..") {
      std::error_code ec;
      base = fs::weakly_canonical(p, ec).filename().string();
    }
    if (base.empty()) {
      error = "cannot store '" + arg + "' under a name of its own";
      return false;
    }
    if (!NamePartFits(p, base, error) || !AddSource(p, base, walk, error)) return false;
  }
  if (sources.empty()) {
    error = "nothing to pack";
    return false;
  }
  return true;
}

bool PackSources(std::vector<PackSource>& sources, const PackOptions& options, const std::string& packedPath,
                 std::string& error) {
  if (options.Level <= 0) return true;
  File out(std::fopen(packedPath.c_str(), "wb"));
  if (!out) {
    error = "cannot create '" + packedPath + "'";
    return false;
  }
  pack::EncoderSettings settings;
  settings.Level = options.Level;
  settings.Multimedia = options.Multimedia;
  pack::Format20Encoder encoder(settings);
  // The packer's tables and parses need far more memory than anything else here; when they
  // cannot have it, the run ends with a message rather than the process.
  const auto outOfMemory = [&](const PackSource* s) {
    error = s ? "out of memory while packing '" + s->Path + "'" : "out of memory";
    return false;
  };
  if (encoder.Failed()) return outOfMemory(nullptr);
  std::uint64_t total = 0, done = 0, offset = 0;
  for (const PackSource& s : sources) total += s.Size;
  std::vector<std::uint8_t> buffer(kCopyChunk);
  // Moves what the packer has produced into the file; false on a write error.
  const auto drain = [&](std::uint64_t& written) {
    std::vector<std::uint8_t>& bytes = encoder.Output();
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
    written += bytes.size();
    bytes.clear();
    return ok;
  };
  for (PackSource& s : sources) {
    // Every entry after the stream's start carries the solid flag; the first packed one may
    // not, so that the unpacker reads its tables.
    s.Solid = options.Solid && encoder.StreamStarted();
    if (s.Directory || s.Size == 0) continue;
    File in(std::fopen(s.Path.c_str(), "rb"));
    if (!in || !SeekTo(out.get(), offset)) {
      error = "cannot read '" + s.Path + "'";
      return false;
    }
    if (!encoder.StartEntry(s.Solid)) return outOfMemory(&s);
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint64_t packed = 0;
    for (std::uint64_t read = 0; read < s.Size;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), s.Size - read));
      if (std::fread(buffer.data(), 1, n, in.get()) != n) {
        error = "cannot read '" + s.Path + "' (it changed or shrank while packing)";
        return false;
      }
      crc = UpdateCrc32(crc, buffer.data(), n);
      if (!encoder.Write(buffer.data(), n)) return outOfMemory(&s);
      read += n;
      done += n;
      if (!drain(packed)) {
        error = "cannot write '" + packedPath + "'";
        return false;
      }
      if (options.Progress) options.Progress(done, total);
    }
    if (!encoder.FinishEntry()) return outOfMemory(&s);
    if (!drain(packed)) {
      error = "cannot write '" + packedPath + "'";
      return false;
    }
    // What packing does not shrink is stored; its packed bytes are overwritten by the next.
    if (packed >= s.Size && encoder.DiscardEntry()) continue;
    if (encoder.Failed()) return outOfMemory(&s);
    s.Method = static_cast<std::uint8_t>(kMethodStored + options.Level);
    s.PackedSize = packed;
    s.DataPath = packedPath;
    s.DataOffset = offset;
    s.PackedCrc = ~crc;
    offset += packed;
  }
  if (std::fflush(out.get()) != 0 || std::fclose(out.release()) != 0) {
    error = "cannot write '" + packedPath + "'";
    return false;
  }
  return true;
}

std::uint64_t MinimumVolumeSize(const std::vector<PackSource>& sources) {
  std::uint64_t largest = kNewFileHeaderSize;
  for (const PackSource& s : sources) largest = std::max(largest, HeaderBytes(s));
  return kVolumeLead + 2 * (largest + 1);
}

bool PlanVolumes(const std::vector<PackSource>& sources, std::uint64_t volumeSize,
                 std::vector<VolumePlan>& volumes, std::string& error) {
  volumes.assign(1, VolumePlan{{}, kVolumeLead});
  if (volumeSize != 0 && volumeSize < MinimumVolumeSize(sources)) {
    error = "volume size " + std::to_string(volumeSize) + " is too small for these names; at least " +
            std::to_string(MinimumVolumeSize(sources)) + " bytes are needed";
    return false;
  }
  for (std::size_t e = 0; e < sources.size(); ++e) {
    const PackSource& s = sources[e];
    std::uint64_t offset = 0;
    bool first = true;
    for (;;) {
      VolumePlan* v = &volumes.back();
      const std::uint64_t remaining = DataSize(s) - offset;
      const std::uint64_t header = HeaderBytes(s);
      if (volumeSize != 0 && volumeSize - v->Bytes < header + (remaining > 0 ? 1 : 0)) {
        // This entry cannot start here. The reader only opens the next volume after a part
        // flagged as continuing, so the volume must end inside the entry before it: hand its
        // last byte to the next volume, or, when it has no byte to spare, give it an empty
        // continuation there. The minimum volume size guarantees a previous part exists and
        // that a continuation with data is never followed by an empty one.
        PartPlan& last = v->Parts.back();
        const PackSource& prev = sources[last.Entry];
        PartPlan tail{last.Entry, last.Offset + last.Size, 0, true, false};
        last.ContinuesInNext = true;
        if (last.Size >= 2) {
          --last.Size;
          --v->Bytes;
          --tail.Offset;
          tail.Size = 1;
        } else if (last.ContinuesFromPrevious && last.Size != 0) {
          error = "internal error: volume layout left an empty final part behind data";
          return false;
        }
        volumes.push_back(VolumePlan{{tail}, kVolumeLead + HeaderBytes(prev) + tail.Size});
        continue;
      }
      const std::uint64_t take = volumeSize == 0 ? remaining : std::min(remaining, volumeSize - v->Bytes - header);
      v->Parts.push_back(PartPlan{e, offset, take, !first, take < remaining});
      v->Bytes += header + take;
      offset += take;
      first = false;
      if (offset == DataSize(s)) break;
      volumes.push_back(VolumePlan{{}, kVolumeLead});
    }
  }
  return true;
}

std::optional<std::uint64_t> VolumeSizeForCount(const std::vector<PackSource>& sources, std::size_t count) {
  if (count == 0) return std::nullopt;
  std::vector<VolumePlan> plan;
  std::string error;
  const auto volumesAt = [&](std::uint64_t size) -> std::size_t {
    return PlanVolumes(sources, size, plan, error) ? plan.size() : 0;
  };
  std::uint64_t lo = MinimumVolumeSize(sources);
  if (!PlanVolumes(sources, 0, plan, error)) return std::nullopt;
  std::uint64_t hi = std::max(lo, plan.front().Bytes);
  if (volumesAt(lo) < count) return std::nullopt;
  // The count falls as the size grows (not strictly, but nearly so): find the smallest size
  // that needs no more than `count` volumes, then confirm it needs exactly that many.
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (volumesAt(mid) <= count) hi = mid; else lo = mid + 1;
  }
  for (std::uint64_t size = lo; size < lo + 64; ++size)
    if (volumesAt(size) == count) return size;
  return std::nullopt;
}

std::string NextVolumeName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::string name = path.substr(start);
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    name += ".rar";
    dot = name.rfind('.');
  }
  std::string ext = name.substr(dot + 1);
  std::string lower = ext;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (ext.empty() || lower == "exe") name = name.substr(0, dot + 1) + "rar";
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (name.size() >= dot + 4 && digit(name[dot + 2]) && digit(name[dot + 3])) {
    // A carry out of a digit moves left; the letter after the dot counts on as a plain byte
    // (r -> s), and a carry out of a leading digit turns it into 'A' (.999 -> .A00).
    std::size_t i = dot + 3;
    ++name[i];
    while (name[i] == '9' + 1) {
      if (name[i - 1] == '.') {
        name[i] = 'A';
        break;
      }
      name[i] = '0';
      --i;
      ++name[i];
    }
  } else {
    name = name.substr(0, dot + 2) + "00";
  }
  return path.substr(0, start) + name;
}

std::vector<std::string> VolumeNames(const std::string& archivePath, std::size_t count) {
  std::vector<std::string> names;
  for (std::string name = archivePath; names.size() < count; name = NextVolumeName(name)) names.push_back(name);
  return names;
}

std::string TemporaryVolumeName(const std::string& volumeName) { return volumeName + ".part"; }

bool WriteVolumes(const std::string& archivePath, const std::vector<PackSource>& sources,
                  const std::vector<VolumePlan>& volumes, const PackOptions& options,
                  std::vector<std::string>& written, std::string& error) {
  written.clear();
  const std::vector<std::string> finals = VolumeNames(archivePath, volumes.size());
  std::vector<std::string> temps;
  for (const std::string& name : finals) temps.push_back(TemporaryVolumeName(name));
  File out;
  const auto fail = [&](const std::string& message) {
    // Windows refuses to delete a file that is still open: close the volume being written first.
    out.reset();
    std::error_code ec;
    for (const std::string& t : temps) fs::remove(t, ec);
    error = message;
    return false;
  };

  // Two readers per entry: one runs ahead to checksum a part before its header is written,
  // the other copies the same bytes after it. Both only ever read forward.
  File ahead, copier;
  std::size_t openEntry = sources.size();
  std::uint32_t entryCrc = 0xFFFFFFFFu;
  std::vector<std::uint8_t> buffer(kCopyChunk);
  const bool solid = std::any_of(sources.begin(), sources.end(), [](const PackSource& s) { return s.Solid; });
  const std::vector<std::uint8_t> mainHeader = MainHeader(volumes.size() > 1, solid);

  for (std::size_t v = 0; v < volumes.size(); ++v) {
    out.reset(std::fopen(temps[v].c_str(), "wb"));
    if (!out) return fail("cannot create '" + temps[v] + "'");
    bool ok = std::fwrite(kNewSignature, 1, sizeof kNewSignature, out.get()) == sizeof kNewSignature &&
              std::fwrite(mainHeader.data(), 1, mainHeader.size(), out.get()) == mainHeader.size();
    for (const PartPlan& part : volumes[v].Parts) {
      if (!ok) break;
      const PackSource& s = sources[part.Entry];
      if (part.Entry != openEntry) {
        openEntry = part.Entry;
        entryCrc = 0xFFFFFFFFu;
        ahead.reset();
        copier.reset();
        if (!s.Directory) {
          const std::string& from = DataPath(s);
          ahead.reset(std::fopen(from.c_str(), "rb"));
          copier.reset(std::fopen(from.c_str(), "rb"));
          if (!ahead || !copier || !SeekTo(ahead.get(), s.DataOffset) || !SeekTo(copier.get(), s.DataOffset))
            return fail("cannot read '" + from + "'");
        }
      }
      std::uint32_t partCrc = 0xFFFFFFFFu;
      for (std::uint64_t left = part.Size; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        if (std::fread(buffer.data(), 1, n, ahead.get()) != n)
          return fail("cannot read '" + s.Path + "' (it changed or shrank while packing)");
        partCrc = UpdateCrc32(partCrc, buffer.data(), n);
        entryCrc = UpdateCrc32(entryCrc, buffer.data(), n);
        left -= n;
      }
      // Earlier parts carry the checksum of their own bytes, the last part that of the whole
      // entry's unpacked bytes.
      const std::uint32_t crc = part.ContinuesInNext ? ~partCrc : Packed(s) ? s.PackedCrc : ~entryCrc;
      const std::vector<std::uint8_t> header = FileHeader(s, part, options.HostOs, crc);
      ok = std::fwrite(header.data(), 1, header.size(), out.get()) == header.size();
      for (std::uint64_t left = part.Size; ok && left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        if (std::fread(buffer.data(), 1, n, copier.get()) != n)
          return fail("cannot read '" + s.Path + "' (it changed while packing)");
        ok = std::fwrite(buffer.data(), 1, n, out.get()) == n;
        left -= n;
      }
    }
    if (!ok || std::fflush(out.get()) != 0) return fail("cannot write '" + temps[v] + "'");
    if (std::fclose(out.release()) != 0) return fail("cannot write '" + temps[v] + "'");
  }
  for (std::size_t v = 0; v < volumes.size(); ++v) {
    std::error_code ec;
    fs::rename(temps[v], finals[v], ec);
    if (ec) {
      for (std::size_t u = 0; u < v; ++u) fs::remove(finals[u], ec);
      return fail("cannot rename '" + temps[v] + "' to '" + finals[v] + "'");
    }
    if (options.VolumeInPlace) options.VolumeInPlace(v);
  }
  written = finals;
  return true;
}

}  // namespace korvane::packer
