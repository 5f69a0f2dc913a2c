// Collects files, packs them, lays their data out over volumes and writes the volumes.
// Header layout: 7-byte signature, 13-byte main header, then per part a 32-byte file header,
// the name and the part's data bytes. Header checksums are the low 16 bits of the
// complemented CRC-32 of the header from its type byte on.
#include "archive/archive_writer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/archive_format.h"
#include "engine/checksum.h"
#include "pack/encoder.h"
#include "pack/store_decision.h"
#include "platform/file_layer.h"

namespace korvane {
namespace fs = std::filesystem;
namespace {

constexpr std::uint32_t kVolumeLead = sizeof kNewSignature + kNewMainHeaderSize;
constexpr std::uint32_t kCopyChunk = 1 << 16;

bool SeekTo(File& f, std::uint64_t offset) {
  return f.Seek(static_cast<std::int64_t>(offset), kSeekStart) == static_cast<std::int64_t>(offset);
}
// The whole buffer or nothing: the file layer writes what it can and says how much.
bool WriteAll(File& f, const void* data, std::size_t size) {
  return f.WriteRaw(data, static_cast<std::uint32_t>(size)) == size;
}
bool ReadAll(File& f, void* data, std::size_t size) {
  return f.Read(data, static_cast<std::uint32_t>(size)) == size;
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

std::vector<std::uint8_t> MainHeaderBytes(bool volumes, bool solid) {
  std::vector<std::uint8_t> h = {0, 0, kMainHead};
  Put16(h, (volumes ? kMainVolume : 0) | (solid ? kSolidArchiveFlag : 0));
  Put16(h, kNewMainHeaderSize);
  Put16(h, 0);  // reserved
  Put32(h, 0);  // reserved
  SealHeader(h);
  return h;
}

std::vector<std::uint8_t> FileHeaderBytes(const PackSource& s, const PartPlan& part, std::uint8_t hostOs,
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
  // The packed data is format 2.0's; a stored entry reads with any version, and the format's
  // own archivers write the newest there too.
  h.push_back(kNewestUnpackVersion);
  h.push_back(s.Method);
  Put16(h, static_cast<std::uint32_t>(s.Name.size()));
  Put32(h, s.Attributes);
  h.insert(h.end(), s.Name.begin(), s.Name.end());
  SealHeader(h);
  return h;
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
    if (!FileDosTime(s.Path.c_str(), s.DosTime)) s.DosTime = DosTime(1980, 1, 1, 0, 0, 0);
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
    if (!File::OpenForReading(s.Path.c_str()).IsOpen()) {
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
  File out = File::Create(packedPath.c_str(), CreateMode::kCreateAlways);
  if (!out.IsOpen()) {
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
    const bool ok = WriteAll(out, bytes.data(), bytes.size());
    written += bytes.size();
    bytes.clear();
    return ok;
  };
  for (PackSource& s : sources) {
    // Every entry after the stream's start carries the solid flag; the first packed one may
    // not, so that the unpacker reads its tables.
    s.Solid = options.Solid && encoder.StreamStarted();
    if (s.Directory || !pack::WorthPacking(s.Size)) continue;
    File in = File::OpenForReading(s.Path.c_str());
    if (!in.IsOpen() || !SeekTo(out, offset)) {
      error = "cannot read '" + s.Path + "'";
      return false;
    }
    if (!encoder.StartEntry(s.Solid)) return outOfMemory(&s);
    std::uint32_t crc = 0xFFFFFFFFu;
    std::uint64_t packed = 0;
    for (std::uint64_t read = 0; read < s.Size;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), s.Size - read));
      if (!ReadAll(in, buffer.data(), n)) {
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
    // A stored entry's packed bytes are overwritten by the next.
    if (pack::StoreInstead(encoder, s.Size, packed)) continue;
    if (encoder.Failed()) return outOfMemory(&s);
    s.Method = static_cast<std::uint8_t>(kMethodStored + options.Level);
    s.PackedSize = packed;
    s.DataPath = packedPath;
    s.DataOffset = offset;
    s.PackedCrc = ~crc;
    offset += packed;
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
    out.Close();
    for (const std::string& t : temps) DeleteFilePath(t.c_str());
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
  const std::vector<std::uint8_t> mainHeader = MainHeaderBytes(volumes.size() > 1, solid);

  for (std::size_t v = 0; v < volumes.size(); ++v) {
    out = File::Create(temps[v].c_str(), CreateMode::kCreateAlways);
    if (!out.IsOpen()) return fail("cannot create '" + temps[v] + "'");
    bool ok = WriteAll(out, kNewSignature, sizeof kNewSignature) && WriteAll(out, mainHeader.data(), mainHeader.size());
    for (const PartPlan& part : volumes[v].Parts) {
      if (!ok) break;
      const PackSource& s = sources[part.Entry];
      if (part.Entry != openEntry) {
        openEntry = part.Entry;
        entryCrc = 0xFFFFFFFFu;
        ahead.Close();
        copier.Close();
        if (!s.Directory) {
          const std::string& from = DataPath(s);
          ahead = File::OpenForReading(from.c_str());
          copier = File::OpenForReading(from.c_str());
          if (!ahead.IsOpen() || !copier.IsOpen() || !SeekTo(ahead, s.DataOffset) || !SeekTo(copier, s.DataOffset))
            return fail("cannot read '" + from + "'");
        }
      }
      std::uint32_t partCrc = 0xFFFFFFFFu;
      for (std::uint64_t left = part.Size; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        if (!ReadAll(ahead, buffer.data(), n))
          return fail("cannot read '" + s.Path + "' (it changed or shrank while packing)");
        partCrc = UpdateCrc32(partCrc, buffer.data(), n);
        entryCrc = UpdateCrc32(entryCrc, buffer.data(), n);
        left -= n;
      }
      // Earlier parts carry the checksum of their own bytes, the last part that of the whole
      // entry's unpacked bytes.
      const std::uint32_t crc = part.ContinuesInNext ? ~partCrc : Packed(s) ? s.PackedCrc : ~entryCrc;
      const std::vector<std::uint8_t> header = FileHeaderBytes(s, part, options.HostOs, crc);
      ok = WriteAll(out, header.data(), header.size());
      for (std::uint64_t left = part.Size; ok && left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        if (!ReadAll(copier, buffer.data(), n)) return fail("cannot read '" + s.Path + "' (it changed while packing)");
        ok = WriteAll(out, buffer.data(), n);
        left -= n;
      }
    }
    if (!ok) return fail("cannot write '" + temps[v] + "'");
    out.Close();
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

}  // namespace korvane
