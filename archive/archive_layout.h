// The archive layout as the reader (engine/) and the writer (archive/archive_writer.h) both
// know it: signatures, header sizes, block types and flags, host systems, methods, the DOS
// attribute bits and date/time stamp, and how the volumes of a set are named. Nothing here
// reads or writes a file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

inline constexpr std::uint8_t kNewSignature[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
inline constexpr std::uint8_t kOldSignature[4] = {0x52, 0x45, 0x7E, 0x5E};

inline constexpr std::uint32_t kNewMainHeaderSize = 13;
inline constexpr std::uint32_t kOldMainHeaderSize = 7;
inline constexpr std::uint32_t kNewFileHeaderSize = 32;
inline constexpr std::uint32_t kOldFileHeaderSize = 21;

// Block types.
inline constexpr std::uint8_t kMainHead = 0x73;
inline constexpr std::uint8_t kFileHead = 0x74;
inline constexpr std::uint8_t kSubBlock = 0x77;

// Main header flags.
inline constexpr std::uint16_t kMainVolume = 0x0001;
inline constexpr std::uint16_t kSolidArchiveFlag = 0x0008;

// File header flags (kLongBlock on any block: a data size follows the header).
inline constexpr std::uint16_t kSplitBefore = 0x0001;  // entry continues from the previous volume
inline constexpr std::uint16_t kSplitAfter = 0x0002;   // entry continues in the next volume
inline constexpr std::uint16_t kEncrypted = 0x0004;
inline constexpr std::uint16_t kSolidEntry = 0x0010;
// Bits 5 to 7 give the dictionary size; all three set mark a directory.
inline constexpr std::uint16_t kDirectoryBits = 0x00E0;
inline constexpr std::uint16_t kDictionary1M = 0x0080;
inline constexpr std::uint16_t kLongBlock = 0x8000;

// Host systems. Hosts above Unix are read as MS-DOS.
inline constexpr std::uint8_t kHostMsdos = 0;
inline constexpr std::uint8_t kHostWindows = 2;
inline constexpr std::uint8_t kHostUnix = 3;
#ifdef _WIN32
inline constexpr std::uint8_t kNativeHost = kHostWindows;
#else
inline constexpr std::uint8_t kNativeHost = kHostUnix;
#endif

// Methods: stored, then packed from fastest (0x31) to best (0x35); the old layout's methods are
// these less kMethodStored.
inline constexpr std::uint8_t kMethodStored = 0x30;
inline constexpr std::uint8_t kMethodBest = 0x35;

// Versions needed to unpack: 1.3 (the old layout's data, format 1.5) to 2.0.
inline constexpr std::uint8_t kOldestUnpackVersion = 13;
inline constexpr std::uint8_t kNewestUnpackVersion = 20;

// MS-DOS attribute bits, as FileAttr holds them for hosts other than Unix.
inline constexpr std::uint32_t kDosReadOnly = 0x01;
inline constexpr std::uint32_t kDosHidden = 0x02;
inline constexpr std::uint32_t kDosSystem = 0x04;
inline constexpr std::uint32_t kDosVolumeLabel = 0x08;
inline constexpr std::uint32_t kDosDirectory = 0x10;
inline constexpr std::uint32_t kDosArchive = 0x20;
// What a file's attributes keep on the disk.
inline constexpr std::uint32_t kDosFileAttributes = kDosReadOnly | kDosHidden | kDosSystem | kDosArchive;

// The file type bits of a Unix host's mode, as FileAttr holds it for host 3.
inline constexpr std::uint32_t kUnixDirectoryType = 0040000;
inline constexpr std::uint32_t kUnixFileType = 0100000;

// The fields of an MS-DOS date/time stamp (local time, two-second steps), and whether they
// form a real date and time.
struct DosDateTime {
  int Year, Month, Day, Hour, Minute, Second;
};
DosDateTime SplitDosTime(std::uint32_t dosTime);
bool IsValidDosDateTime(const DosDateTime& t);
// The stamp of a calendar time; years before 1980 clamp to 1980-01-01, after 2107 to 2107.
std::uint32_t DosTime(int year, int month, int day, int hour, int minute, int second);

// The volume after name: name.rar (or .exe, or no extension) -> name.r00 -> ... -> name.r99 ->
// name.s00; .999 -> .A00. Only the file-name part of a path changes. Rewrites name in place;
// false (unchanged) when the result might not fit in capacity bytes.
bool AdvanceVolumeName(char* name, std::size_t capacity);
std::string NextVolumeName(const std::string& name);

}  // namespace korvane
