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

// An output path. Name is the whole path; its first RootLength bytes are the destination, taken
// as the user gave it (it may itself be a link: that was the user's choice). Every folder between
// the destination and the last component must be a real folder: a symbolic link there (on Windows
// a junction or any other reparse point) fails the call, and LastPathMetLink() says so. The check
// and the operation cannot be separated: on POSIX the folders are opened one by one from the
// destination down without following links. A plain name trusts every folder on its way.
struct GuardedPath {
  static constexpr std::size_t kAllTrusted = static_cast<std::size_t>(-1);
  GuardedPath(const char* name) : Name(name) {}  // NOLINT(google-explicit-constructor): a plain name
  GuardedPath(const char* name, std::size_t rootLength) : Name(name), RootLength(rootLength) {}
  const char* Name;
  std::size_t RootLength = kAllTrusted;
};

// Whether the last failed call on this thread that took a GuardedPath failed because a folder on
// the way was a link.
bool LastPathMetLink();

enum class CreateMode {
  kCreateNew,     // fails when the name exists (anything, even a dangling link)
  kCreateAlways,  // replaces what is there; on POSIX a symbolic link is removed, never followed
};

// Existing file for reading, sharing reads; kFailedFile when it cannot be opened.
FileHandle OpenFileForReading(const char* name);
// A file for writing, no sharing, written through; kFailedFile on failure.
FileHandle CreateFileForWriting(GuardedPath name, CreateMode mode);
// A new, empty file in the folder of name under a short name of its own that nothing else has,
// for data that is moved onto name once it is complete. Its whole name goes into tempName
// (same folder prefix as name). On POSIX only the owner may read it until its permissions are set.
FileHandle CreateTemporaryBeside(GuardedPath name, char* tempName, std::size_t capacity);
// Moves the file from onto to, which it replaces; both lie in one folder. An existing to keeps
// its spelling (names are found regardless of case), and a read-only one is replaced too. With
// asideName, an existing to is first moved aside under a new name of its own beside it, written
// there (empty when there was nothing to move aside); should the second move fail, the first is
// undone. Nothing is replaced through a link.
bool MoveOnto(GuardedPath from, GuardedPath to, char* asideName = nullptr, std::size_t asideCapacity = 0);

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
bool PathExists(GuardedPath name);
// Only a real directory (never a link to one).
bool IsDirectoryPath(GuardedPath name);
// Files only; a read-only file is deleted too.
bool DeleteFilePath(GuardedPath name);
// Only when it is empty.
bool RemoveEmptyDirectory(GuardedPath name);

enum class DirResult {
  kCreated,
  kExists,       // something of that name is already there
  kPathMissing,  // a parent is missing (the class of errors that MakeDirectories can mend)
  kFailed,       // any other failure
  kThroughLink,  // a folder on the way is a link (GuardedPath)
};
DirResult CreateDirectoryPath(GuardedPath name);

// MS-DOS/Windows attribute bits (archive/archive_layout.h) read-only, hidden, system, archive, of the
// open file that name names. POSIX keeps only read-only (as a file without write permission)
// and drops the rest.
bool SetFileAttributesOf(FileHandle file, GuardedPath name, std::uint32_t attributes);
// Creation, access and modification times of an open file from an MS-DOS date/time taken
// as local time. False (times untouched) when the stamp is not a valid calendar date.
bool SetFileTimesFromDos(FileHandle file, std::uint32_t dosTime);

// Permissions of an open file (POSIX; nothing to do on Windows). An entry from a Unix system
// gets its stored read, write and execute bits for user, group and others (never set-id or
// sticky bits), masked by the umask unless the user is root, as tar does; any other entry gets
// what a new file gets.
enum class PermissionSource { kDefault, kUnixMode };
bool SetPermissions(FileHandle file, PermissionSource source, std::uint32_t unixMode);
// A folder's times from an MS-DOS date/time and, with PermissionSource::kUnixMode, its
// permissions; set once everything inside it has been written.
bool FinishDirectory(GuardedPath name, std::uint32_t dosTime, PermissionSource source, std::uint32_t unixMode);

// The modification time of the file name names, as an MS-DOS date/time in local time;
// false when it cannot be read.
bool FileDosTime(const char* name, std::uint32_t& dosTime);

}  // namespace korvane
