// The file operations the engine needs, as one small interface with a Win32 and a POSIX
// implementation chosen at link time. Names use '\' (or '/') as separator on every system;
// the POSIX layer maps them to '/' and finds names case-insensitively when the exact spelling
// does not exist, because archives from old media change the case of their volume names.
// While any file of the layer is open, the POSIX layer remembers what it found in each
// directory and sees only its own changes there (file_posix.cpp says why).
// Nothing here shows a message: the engine decides what a failure means.
#pragma once
#include <cstddef>
#include <cstdint>
#ifndef _WIN32
#include <climits>
#endif

namespace korvane {

// The system's path limit, terminator included: MAX_PATH on Windows, PATH_MAX on POSIX. Every
// name buffer of the engine has it: the volume name of a job, an entry's name and the output
// path built from it.
#ifdef _WIN32
inline constexpr std::size_t kPathLimit = 260;
#else
inline constexpr std::size_t kPathLimit = PATH_MAX;
#endif

// Win32 file handle in the Windows build, a file descriptor + 1 in the POSIX build. 0 is the
// empty handle (no file); kFailedFile is what a failed open or creation returns.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = 0;
inline constexpr FileHandle kFailedFile = -1;

inline bool IsOpenFile(FileHandle h) { return h != kNoFile && h != kFailedFile; }

enum class CreateMode {
  kCreateNew,     // fails when the name exists (anything, even a dangling link)
  kCreateAlways,  // replaces what is there; on POSIX a symbolic link is removed, never followed
};

// Existing file for reading, sharing reads; kFailedFile when it cannot be opened.
FileHandle OpenFileForReading(const char* name);
// A file for writing, no sharing, written through; kFailedFile on failure.
FileHandle CreateFileForWriting(const char* name, CreateMode mode);

// Bytes read; 0 at the end of the file or on an error (the two look alike on purpose).
std::uint32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t count);
// Bytes really written (fewer than count on a failure); the engine decides what to show.
std::uint32_t WriteFileRaw(FileHandle file, const void* buffer, std::uint32_t count);
// WriteFileRaw within the free space a test may have set (platform/disk_space.h); what
// File::WriteRaw uses, so that every build can show how a full disk ends a job.
std::uint32_t WriteWithinFreeSpace(FileHandle file, const void* buffer, std::uint32_t count);

enum SeekBase { kSeekStart = 0, kSeekCurrent = 1, kSeekEnd = 2 };
// New position, or -1 when the seek failed (the position is then unchanged).
std::int64_t SeekFile(FileHandle file, std::int64_t offset, int base);
std::uint64_t FileLengthOf(FileHandle file);
// Nothing happens for the empty or the failed handle.
void CloseFileHandle(FileHandle file);

// An open file that closes itself. A failed open leaves it empty, like a default one: the
// callers only ever ask whether a file is there.
class File {
 public:
  File() = default;
  explicit File(FileHandle handle) : Native(IsOpenFile(handle) ? handle : kNoFile) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept : Native(other.Native) { other.Native = kNoFile; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      Native = other.Native;
      other.Native = kNoFile;
    }
    return *this;
  }
  ~File() { Close(); }

  static File OpenForReading(const char* name) { return File(OpenFileForReading(name)); }
  static File Create(const char* name, CreateMode mode) { return File(CreateFileForWriting(name, mode)); }

  bool IsOpen() const { return Native != kNoFile; }
  FileHandle Handle() const { return Native; }
  void Close() {
    CloseFileHandle(Native);
    Native = kNoFile;
  }
  std::uint32_t Read(void* buffer, std::uint32_t count) { return ReadFileBytes(Native, buffer, count); }
  std::uint32_t WriteRaw(const void* buffer, std::uint32_t count) { return WriteWithinFreeSpace(Native, buffer, count); }
  std::int64_t Seek(std::int64_t offset, int base) { return SeekFile(Native, offset, base); }
  std::int64_t Position() { return SeekFile(Native, 0, kSeekCurrent); }
  std::uint64_t Length() const { return FileLengthOf(Native); }

 private:
  FileHandle Native = kNoFile;
};

// Files and directories alike; on POSIX a symbolic link counts even when it dangles.
bool PathExists(const char* name);
bool DeleteFilePath(const char* name);

enum class DirResult {
  kCreated,
  kExists,       // something of that name is already there
  kPathMissing,  // a parent is missing (the class of errors that MakeDirectories can mend)
  kFailed,       // any other failure
};
DirResult CreateDirectoryPath(const char* name);

// MS-DOS/Windows attribute bits 0x01 read-only, 0x02 hidden, 0x04 system, 0x20 archive. POSIX
// keeps only read-only (as a file without write permission) and drops the rest.
bool SetFileAttributesOf(const char* name, std::uint32_t attributes);
// Creation, access and modification times of an open file from an MS-DOS date/time taken
// as local time. False (times untouched) when the stamp is not a valid calendar date.
bool SetFileTimesFromDos(FileHandle file, std::uint32_t dosTime);

// The fields of an MS-DOS date/time stamp, and whether they form a real date and time.
struct DosDateTime {
  int Year, Month, Day, Hour, Minute, Second;
};
DosDateTime SplitDosTime(std::uint32_t dosTime);
bool IsValidDosDateTime(const DosDateTime& t);

}  // namespace korvane
