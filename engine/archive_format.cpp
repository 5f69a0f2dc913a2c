// Header decoding goes through ByteReader over a buffer that was filled completely, so no
// field is taken from bytes the file did not have.
#include "engine/archive_format.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "engine/byte_reader.h"
#include "engine/checksum.h"
#include "engine/status.h"

namespace korvane {
namespace {

std::uint32_t CurrentPosition(ArchiveReader& r) {
  const std::int64_t pos = r.Input.Position();
  return pos < 0 ? 0 : static_cast<std::uint32_t>(pos);
}

bool Crc16Matches(std::uint32_t runningCrc, std::uint16_t stored) {
  return static_cast<std::uint16_t>(~runningCrc & 0xFFFFu) == stored;
}

void DecodeNewFileHeader(std::span<const std::uint8_t> b, FileHeader& h) {
  ByteReader r(b);
  h.HeadCRC = r.U16();
  h.HeadType = r.U8();
  h.HeadFlags = r.U16();
  h.HeadSize = r.U16();
  h.PackSize = r.U32();
  h.UnpSize = r.U32();
  h.HostOS = r.U8();
  h.FileCRC = r.U32();
  h.FileTime = r.U32();
  h.UnpVer = r.U8();
  h.Method = r.U8();
  h.NameSize = r.U16();
  h.FileAttr = r.U32();
  h.UnixMode = 0;
}

// The old file header, already converted into the new form.
void DecodeOldFileHeader(std::span<const std::uint8_t> b, FileHeader& h, std::uint8_t& oldFlags,
                         std::uint8_t& oldVer, std::uint8_t& oldMethod) {
  ByteReader r(b);
  h.PackSize = r.U32();
  h.UnpSize = r.U32();
  h.FileCRC = r.U16();
  h.HeadSize = r.U16();
  h.FileTime = r.U32();
  h.FileAttr = r.U8();
  oldFlags = r.U8();
  oldVer = r.U8();
  h.NameSize = r.U8();
  oldMethod = r.U8();
}

void ConvertOldFields(FileHeader& h, std::uint8_t oldFlags, std::uint8_t oldVer, std::uint8_t oldMethod) {
  h.HeadFlags = static_cast<std::uint16_t>(oldFlags | kLongBlock);
  h.Method = static_cast<std::uint8_t>(oldMethod + kMethodStored);
  // Old version 2 is the one this engine reads; anything else becomes 10, refused later.
  h.UnpVer = oldVer == 2 ? kOldestUnpackVersion : 10;
  h.HeadType = kFileHead;
  h.HostOS = kHostMsdos;
  h.HeadCRC = 0;
}

// Reads the name behind a file header and normalises the entry. A name longer than EntryName
// is marked rather than cut into another name; the driver fails its entry. False when the
// volume ends inside the name.
bool ReadEntryName(ArchiveReader& r, bool checkCrc) {
  ArchiveState& a = r.Archive;
  const std::uint32_t want = std::min<std::uint32_t>(a.File.NameSize, kMaxNameBytes);
  a.NameTooLong = a.File.NameSize > want;
  a.File.NameSize = static_cast<std::uint16_t>(want);
  const std::uint32_t got = r.Input.Read(a.EntryName, want);
  a.EntryName[got] = '\0';
  if (got != want) return false;
  if (checkCrc) {
    a.HeaderCrc = UpdateCrc32(a.HeaderCrc, reinterpret_cast<const std::uint8_t*>(a.EntryName), got);
    if (!Crc16Matches(a.HeaderCrc, a.File.HeadCRC)) r.Frontend.ReportStatus(Status::kBrokFileHead);
  }
  if (a.File.HostOS >= kHostUnix) {
    if (a.File.HostOS == kHostUnix) a.File.UnixMode = a.File.FileAttr;
    a.File.FileAttr = (a.File.HeadFlags & kDirectoryBits) == kDirectoryBits ? kDosDirectory : kDosArchive;
    if (a.File.HostOS > kHostUnix) a.File.HostOS = kHostMsdos;
  }
  for (char* c = a.EntryName; *c != '\0'; ++c)
    if (*c == '/') *c = '\\';
  return true;
}

// After a fixed header came short at CurrentBlockPos: whether the bytes left there start a
// block the volume does not hold whole. A short block that is all there (the end-of-archive
// mark of later archivers, say) ends the walk as the end of the file does; an old header has
// no short kind, so any bytes left are a cut one.
bool HeaderCut(ArchiveReader& r) {
  const std::uint64_t length = r.Input.Length(), at = r.Archive.CurrentBlockPos;
  if (length <= at) return false;
  const std::uint64_t left = length - at;
  constexpr std::uint32_t kPrefix = 7, kWithDataSize = 11;
  if (r.Archive.Format != ArchiveFormat::kNew || left < kPrefix) return true;
  std::uint8_t raw[kWithDataSize] = {};
  const bool there = r.Input.Seek(static_cast<std::int64_t>(at), kSeekStart) >= 0;
  const std::uint32_t got = there ? r.Input.Read(raw, sizeof raw) : 0;
  ByteReader b(std::span<const std::uint8_t>(raw, got));
  b.Skip(2);
  const std::uint8_t type = b.U8();
  const std::uint16_t flags = b.U16(), size = b.U16();
  std::uint64_t need = std::max<std::uint64_t>(size, type == kFileHead ? kNewFileHeaderSize : kPrefix);
  if (flags & kLongBlock) need = std::max<std::uint64_t>(need, kWithDataSize) + b.U32();
  return need > left;
}

// The volume ends inside the header at CurrentBlockPos: the walk ends there, as at the end of
// the file, and the cut is told.
std::uint32_t EndInsideHeader(ArchiveReader& r) {
  ReportUnexpectedEnd(r);
  r.Archive.Block = BlockPrefix{};
  r.Input.Seek(r.Archive.CurrentBlockPos, kSeekStart);
  return 0;
}

void CopyPrefix(const FileHeader& h, BlockPrefix& p) {
  p.HeadCRC = h.HeadCRC;
  p.HeadType = h.HeadType;
  p.HeadFlags = h.HeadFlags;
  p.HeadSize = h.HeadSize;
  p.DataSize = (h.HeadFlags & kLongBlock) ? h.PackSize : 0;
}

std::uint32_t NextBlockNew(ArchiveReader& r, std::uint8_t wantedType, bool acceptSubBlocks) {
  ArchiveState& a = r.Archive;
  const FileHeader kept = a.File;
  std::uint32_t got = 0;
  for (;;) {
    a.CurrentBlockPos = CurrentPosition(r);
    got = ReadHeaderBytes(r, HeaderKind::kFile);
    if (got != 0) {
      // The next block must lie strictly beyond this one, or the chain is damaged: that
      // catches a header size below 7 and a data size that wraps the 32-bit position.
      std::uint32_t next = a.CurrentBlockPos + a.File.HeadSize;
      if (a.File.HeadFlags & kLongBlock) next += a.File.PackSize;
      const bool damaged = a.File.HeadSize < 7 || next <= a.CurrentBlockPos ||
                           next < a.CurrentBlockPos + std::uint32_t{a.File.HeadSize};
      if (damaged) {
        got = 0;
      } else {
        a.NextBlockPos = next;
      }
      if (damaged) break;
    } else if (r.Input.Length() < a.NextBlockPos || HeaderCut(r)) {
      ReportUnexpectedEnd(r);
    }
    if (got == 0 || a.File.HeadType == wantedType || (a.File.HeadType == kSubBlock && acceptSubBlocks)) break;
    r.Input.Seek(a.NextBlockPos, kSeekStart);
  }
  if (got != 0) {
    CopyPrefix(a.File, a.Block);
  } else {
    a.Block = BlockPrefix{};
  }
  if (got == 0 || a.File.HeadType != wantedType) {
    a.File = kept;
    r.Input.Seek(a.CurrentBlockPos, kSeekStart);
    return got;
  }
  if (!ReadEntryName(r, true)) {
    a.File = kept;
    return EndInsideHeader(r);
  }
  return kNewFileHeaderSize + a.File.NameSize;
}

std::uint32_t NextBlockOld(ArchiveReader& r) {
  ArchiveState& a = r.Archive;
  a.File = FileHeader{};
  ConvertOldFields(a.File, 0, 0, 0);
  a.CurrentBlockPos = CurrentPosition(r);
  std::uint8_t raw[kOldFileHeaderSize];
  const std::uint32_t got = r.Input.Read(raw, sizeof raw) == sizeof raw ? sizeof raw : 0;
  if (got != 0) {
    FileHeader h;
    std::uint8_t flags = 0, ver = 0, method = 0;
    DecodeOldFileHeader(raw, h, flags, ver, method);
    if (method > 7 || h.NameSize == 0 || h.NameSize > 80 || ver == 0 || ver > 20 || h.HeadSize < 22 ||
        (flags < 8 && h.HeadSize != h.NameSize + kOldFileHeaderSize))
      return 0;
    // Unlike the new layout the old one has no check that the chain advances; without it a
    // packed size that wraps the position back onto this header would walk in a circle.
    const std::uint32_t next = a.CurrentBlockPos + h.PackSize + h.HeadSize;
    if (next <= a.CurrentBlockPos || next < a.CurrentBlockPos + std::uint32_t{h.HeadSize}) return 0;
    ConvertOldFields(h, flags, ver, method);
    a.File = h;
    a.NextBlockPos = next;
  }
  CopyPrefix(a.File, a.Block);
  if (got == 0) {
    // The old layout ends the file with the last entry's data, so bytes short of a header, or
    // a file short of that data, are a cut.
    if (r.Input.Length() < a.NextBlockPos || HeaderCut(r)) ReportUnexpectedEnd(r);
    return 0;
  }
  if (!ReadEntryName(r, false)) return EndInsideHeader(r);
  return kOldFileHeaderSize + a.File.NameSize;
}

}  // namespace

std::uint32_t ReadHeaderBytes(ArchiveReader& r, HeaderKind kind) {
  ArchiveState& a = r.Archive;
  const bool isNew = a.Format == ArchiveFormat::kNew;
  std::uint8_t raw[kNewFileHeaderSize];
  const std::uint32_t size = kind == HeaderKind::kMain ? (isNew ? kNewMainHeaderSize : kOldMainHeaderSize)
                                                       : (isNew ? kNewFileHeaderSize : kOldFileHeaderSize);
  static_assert(kNewFileHeaderSize >= kNewMainHeaderSize && kNewFileHeaderSize >= kOldFileHeaderSize);
  if (r.Input.Read(raw, size) != size) return 0;
  const std::span<const std::uint8_t> bytes(raw, size);
  if (isNew) a.HeaderCrc = UpdateCrc32(0xFFFFFFFFu, raw + 2, size - 2);
  if (kind == HeaderKind::kMain) {
    ByteReader r(bytes);
    if (isNew) {
      a.Main.HeadCRC = r.U16();
      a.Main.HeadType = r.U8();
      a.Main.HeadFlags = r.U16();
      a.Main.HeadSize = r.U16();
    } else {
      r.Skip(4);  // the signature
      a.Main.HeadSize = r.U16();
      a.Main.HeadFlags = r.U8() & 0x3F;
      a.Main.HeadType = kMainHead;
      a.Main.HeadCRC = 0;
    }
  } else if (isNew) {
    DecodeNewFileHeader(bytes, a.File);
  } else {
    std::uint8_t flags = 0, ver = 0, method = 0;
    DecodeOldFileHeader(bytes, a.File, flags, ver, method);
    ConvertOldFields(a.File, flags, ver, method);
  }
  return size;
}

void ReportUnexpectedEnd(ArchiveReader& r) {
  if (r.Archive.VolumeCut) return;
  r.Archive.VolumeCut = true;
  r.CutVolumes += 1;
  r.Frontend.ReportStatus(Status::kUnexpEOF);
}

bool MainHeaderCrcMatches(const ArchiveReader& r) {
  return r.Archive.Format != ArchiveFormat::kNew || Crc16Matches(r.Archive.HeaderCrc, r.Archive.Main.HeadCRC);
}

std::uint32_t NextBlock(ArchiveReader& r, std::uint8_t wantedType, bool acceptSubBlocks) {
  if (r.Archive.Format == ArchiveFormat::kOld) return NextBlockOld(r);
  if (r.Archive.Format == ArchiveFormat::kNew) return NextBlockNew(r, wantedType, acceptSubBlocks);
  return 0;
}

}  // namespace korvane
