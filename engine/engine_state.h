// The engine-wide state of one run: the open archive and its headers, the entry being
// decoded, the sliding window, the mode byte and the overwrite-all answer. The program (or a
// test) owns one EngineState and hands it to every engine operation by reference.
#pragma once
#include <cstdint>
#include <memory>

#include "engine/host.h"
#include "platform/file_layer.h"

namespace korvane {

inline constexpr std::uint32_t kUnpackWindowSize = 1u << 20;  // 1 MiB sliding window
inline constexpr std::size_t kEntryNameSize = 260;            // 259 name bytes and a zero

enum class ArchiveFormat : std::uint8_t { kNone, kOld, kNew };

inline constexpr std::uint8_t kMainHead = 0x73;
inline constexpr std::uint8_t kFileHead = 0x74;
inline constexpr std::uint8_t kSubBlock = 0x77;

inline constexpr std::uint16_t kLongBlock = 0x8000;
inline constexpr std::uint16_t kSplitBefore = 0x0001;  // entry continues from the previous volume
inline constexpr std::uint16_t kSplitAfter = 0x0002;   // entry continues in the next volume
inline constexpr std::uint16_t kEncrypted = 0x0004;
inline constexpr std::uint16_t kSolidEntry = 0x0010;
inline constexpr std::uint16_t kDirectoryBits = 0x00E0;
inline constexpr std::uint16_t kSolidArchiveFlag = 0x0008;

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

// The open archive and the walk over its blocks. Positions are 32-bit as in the format, and
// their sums wrap on purpose: the walk detects a chain that wraps or stands still.
struct ArchiveState {
  ArchiveFormat Format = ArchiveFormat::kNone;
  MainHeader Main;
  std::uint32_t MainHeaderLength = 0;  // 13 new, 7 old: how much of the main header was read
  bool SolidArchive = false;
  FileHeader File;
  char EntryName[kEntryNameSize] = {};
  BlockPrefix Block;
  std::uint32_t CurrentBlockPos = 0;
  std::uint32_t NextBlockPos = 0;
  std::uint32_t HeaderCrc = 0;
};

// The entry being decoded; the driver fills it, the volume logic moves it on, the
// input/output layer consumes it.
struct UnpackSession {
  std::uint32_t PackedLeft = 0;    // packed bytes of the entry still unread in this volume
  bool EntryContinues = false;     // the entry goes on in the next volume
  std::int32_t RemainingOutput = 0;
  std::uint32_t BytesWritten = 0;
  std::uint32_t Checksum = 0;      // 16-bit sum (old) or CRC-32 (new) of the output so far
  bool SkipChecksum = false;       // decoded only for the solid dictionary
  bool TestOnly = false;           // output counted and checksummed, not written
  FileHandle InputFile = kNoFile;  // the volume being read
  FileHandle OutputFile = kNoFile;
};

struct EngineState {
  explicit EngineState(korvane::Host& host) : Frontend(host) {}
  EngineState(const EngineState&) = delete;
  EngineState& operator=(const EngineState&) = delete;
  ~EngineState() { CloseFiles(); }

  void CloseFiles() {
    CloseFileHandle(Session.InputFile);
    CloseFileHandle(Session.OutputFile);
    Session.InputFile = kNoFile;
    Session.OutputFile = kNoFile;
  }

  korvane::Host& Frontend;  // message boxes, progress messages, status hook
  char Mode = 'T';            // the driver's copy of the job's mode: 'X' or 'T'
  bool OverwriteAll = false;  // the user accepted the overwrite question for the whole run
  ArchiveState Archive;
  UnpackSession Session;
  std::unique_ptr<std::uint8_t[]> UnpackWindow;
};

}  // namespace korvane
