// The archive reader: the open volume, what identifying it found, and the walk over its
// blocks. Listing, extracting and summing sizes all read an archive through one of these;
// the reader needs nothing of a run but the host its statuses and notices go to.
#pragma once
#include <cstdint>

#include "archive/archive_layout.h"
#include "engine/host.h"
#include "platform/file_layer.h"

namespace korvane {

enum class ArchiveFormat : std::uint8_t { kNone, kOld, kNew };

// Every entry, whichever layout it came from, in the widened form of the new layout.
struct FileHeader {
  std::uint16_t HeadCRC = 0;
  std::uint8_t HeadType = 0;
  std::uint16_t HeadFlags = 0;
  std::uint16_t HeadSize = 0;
  std::uint32_t PackSize = 0;
  std::uint32_t UnpSize = 0;
  std::uint8_t HostOS = 0;
  std::uint32_t FileCRC = 0;
  std::uint32_t FileTime = 0;
  std::uint8_t UnpVer = 0;
  std::uint8_t Method = 0;
  std::uint16_t NameSize = 0;
  std::uint32_t FileAttr = 0;
  // The attributes as stored by a Unix host (HostOS 3): its mode bits, which normalising the
  // entry replaces in FileAttr.
  std::uint32_t UnixMode = 0;
};

// The common fields of the block most recently walked over; HeadType 0 means "no block".
struct BlockPrefix {
  std::uint16_t HeadCRC = 0;
  std::uint8_t HeadType = 0;
  std::uint16_t HeadFlags = 0;
  std::uint16_t HeadSize = 0;
  std::uint32_t DataSize = 0;
};

struct MainHeader {
  std::uint16_t HeadCRC = 0;
  std::uint8_t HeadType = 0;
  std::uint16_t HeadFlags = 0;  // for an old archive: its flags, low six bits kept
  std::uint16_t HeadSize = 0;
};

// What identifying the archive found and where the walk over its blocks stands. Positions
// are 32-bit as in the format, and their sums wrap on purpose: the walk detects a chain that
// wraps or stands still.
struct ArchiveState {
  ArchiveFormat Format = ArchiveFormat::kNone;
  MainHeader Main;
  std::uint32_t MainHeaderLength = 0;  // 13 new, 7 old: how much of the main header was read
  bool SolidArchive = false;
  FileHeader File;
  char EntryName[kPathLimit] = {};
  bool NameTooLong = false;  // the stored name did not fit EntryName, which holds only its start
  BlockPrefix Block;
  std::uint32_t CurrentBlockPos = 0;
  std::uint32_t NextBlockPos = 0;
  std::uint32_t HeaderCrc = 0;
  bool VolumeCut = false;  // this volume ends inside a block, and "MUnexpEOF" has told so
};

struct ArchiveReader {
  explicit ArchiveReader(Host& host) : Frontend(host) {}
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Closes the volume and forgets everything read from it.
  void Reset() {
    Input.Close();
    Archive = ArchiveState{};
    PackedLeft = 0;
    EntryContinues = false;
    CutVolumes = 0;
  }

  Host& Frontend;  // statuses, notices and questions
  File Input;      // the volume being read
  ArchiveState Archive;
  // The packed data of the entry being read: bytes still unread in this volume, and whether
  // the entry goes on in the next one. Moving between volumes keeps both up to date.
  std::uint32_t PackedLeft = 0;
  bool EntryContinues = false;
  // Volumes found to end inside a block since the reader was reset. Each is one failure: the
  // entry whose header or data was cut, or the block that was.
  std::int32_t CutVolumes = 0;
};

}  // namespace korvane
