// The file layer over the Win32 kernel: CreateFileA and friends, as the installer always did.
// Below the destination of a GuardedPath, every folder on the way is checked for a reparse
// point (a symbolic link, a junction, a mount point) before the operation.
#include <windows.h>

#include <ctime>
#include <string>

#include "archive/archive_layout.h"
#include "platform/file_layer.h"
#include "platform/guarded_path.h"

namespace korvane {
namespace {

HANDLE ToHandle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }
FileHandle FromHandle(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? kFailedFile : reinterpret_cast<FileHandle>(h);
}

thread_local bool t_metLink = false;

// False when a folder of name below its trusted part is a reparse point. A folder that does not
// exist ends the check: the operation itself then fails or creates it.
bool NoLinkOnTheWay(const GuardedPath& name) {
  t_metLink = false;
  const std::size_t trusted = detail::TrustedFolderCount(name);
  std::size_t components = 0;
  const std::string whole = name.Name;
  for (std::size_t pos = 0; pos < whole.size();) {
    if (whole[pos] == '\\' || whole[pos] == '/') {
      ++pos;
      continue;
    }
    const std::size_t end = whole.find_first_of("\\/", pos);
    if (end == std::string::npos) break;  // the last component is the operation's own
    if (++components > trusted) {
      const DWORD attributes = GetFileAttributesA(whole.substr(0, end).c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return true;
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        t_metLink = true;
        return false;
      }
    }
    pos = end + 1;
  }
  return true;
}

// name with its last component spelled as it exists on disk, so that a replaced file keeps it.
std::string AsStored(const char* name) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(name, &found);
  if (search == INVALID_HANDLE_VALUE) return name;
  FindClose(search);
  return detail::FolderPrefix(name) + found.cFileName;
}


bool ClearReadOnly(const char* name) {
  const DWORD attributes = GetFileAttributesA(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         SetFileAttributesA(name, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

bool DosToFileTime(std::uint32_t dosTime, FILETIME& utc) {
  const DosDateTime t = SplitDosTime(dosTime);
  if (!IsValidDosDateTime(t)) return false;
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.Year);
  st.wMonth = static_cast<WORD>(t.Month);
  st.wDay = static_cast<WORD>(t.Day);
  st.wHour = static_cast<WORD>(t.Hour);
  st.wMinute = static_cast<WORD>(t.Minute);
  st.wSecond = static_cast<WORD>(t.Second);
  FILETIME local;
  return SystemTimeToFileTime(&st, &local) && LocalFileTimeToFileTime(&local, &utc);
}

}  // namespace

bool LastPathMetLink() { return t_metLink; }

FileHandle OpenFileForReading(const char* name) {
  return FromHandle(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_RANDOM_ACCESS, nullptr));
}

FileHandle CreateFileForWriting(GuardedPath name, CreateMode mode) {
  if (!NoLinkOnTheWay(name)) return kFailedFile;
  const DWORD disposition = mode == CreateMode::kCreateNew ? CREATE_NEW : CREATE_ALWAYS;
  return FromHandle(CreateFileA(name.Name, GENERIC_WRITE, 0, nullptr, disposition, FILE_FLAG_WRITE_THROUGH, nullptr));
}

FileHandle CreateTemporaryBeside(GuardedPath name, char* tempName, std::size_t capacity) {
  if (!NoLinkOnTheWay(name)) return kFailedFile;
  for (int attempt = 0; attempt < 64; ++attempt) {
    if (!detail::WriteSiblingName(name.Name, detail::OwnLeafName("tmp"), tempName, capacity)) return kFailedFile;
    const HANDLE h = CreateFileA(tempName, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_WRITE_THROUGH, nullptr);
    if (h != INVALID_HANDLE_VALUE) return FromHandle(h);
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return kFailedFile;
  }
  return kFailedFile;
}

bool MoveOnto(GuardedPath from, GuardedPath to, char* asideName, std::size_t asideCapacity) {
  if (!NoLinkOnTheWay(from) || !NoLinkOnTheWay(to)) return false;
  const std::string target = AsStored(to.Name);
  bool movedAside = false;
  if (asideName != nullptr) {
    asideName[0] = '\0';
    for (int attempt = 0; attempt < 64 && GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES; ++attempt) {
      if (!detail::WriteSiblingName(to.Name, detail::OwnLeafName("bak"), asideName, asideCapacity)) return false;
      if (MoveFileExA(target.c_str(), asideName, 0)) {
        movedAside = true;
        break;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    if (!movedAside) {
      asideName[0] = '\0';
      if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    }
  }
  bool moved = MoveFileExA(from.Name, target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  // The user agreed to replace a read-only file; Windows refuses until the mark is off.
  if (!moved && GetLastError() == ERROR_ACCESS_DENIED && ClearReadOnly(target.c_str()))
    moved = MoveFileExA(from.Name, target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (!moved && movedAside && MoveFileExA(asideName, target.c_str(), 0)) asideName[0] = '\0';
  return moved;
}

std::uint32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t count) {
  if (!IsOpenFile(file)) return 0;
  DWORD got = 0;
  if (!ReadFile(ToHandle(file), buffer, count, &got, nullptr)) return 0;
  return got;
}

std::uint32_t WriteFileRaw(FileHandle file, const void* buffer, std::uint32_t count) {
  if (!IsOpenFile(file)) return 0;
  DWORD put = 0;
  if (!WriteFile(ToHandle(file), buffer, count, &put, nullptr)) return 0;
  return put;
}

std::int64_t SeekFile(FileHandle file, std::int64_t offset, int base) {
  if (!IsOpenFile(file)) return -1;
  static constexpr DWORD kMethods[3] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  if (base < 0 || base > 2) return -1;
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(ToHandle(file), distance, &position, kMethods[base])) return -1;
  return position.QuadPart;
}

std::uint64_t FileLengthOf(FileHandle file) {
  LARGE_INTEGER size;
  if (!IsOpenFile(file) || !GetFileSizeEx(ToHandle(file), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

void CloseFileHandle(FileHandle file) {
  if (IsOpenFile(file)) CloseHandle(ToHandle(file));
}

bool PathExists(GuardedPath name) {
  return NoLinkOnTheWay(name) && GetFileAttributesA(name.Name) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectoryPath(GuardedPath name) {
  if (!NoLinkOnTheWay(name)) return false;
  const DWORD attributes = GetFileAttributesA(name.Name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool DeleteFilePath(GuardedPath name) {
  if (!NoLinkOnTheWay(name)) return false;
  if (DeleteFileA(name.Name)) return true;
  return GetLastError() == ERROR_ACCESS_DENIED && ClearReadOnly(name.Name) && DeleteFileA(name.Name);
}

bool RemoveEmptyDirectory(GuardedPath name) { return NoLinkOnTheWay(name) && RemoveDirectoryA(name.Name) != 0; }

DirResult CreateDirectoryPath(GuardedPath name) {
  if (!NoLinkOnTheWay(name)) return DirResult::kThroughLink;
  if (CreateDirectoryA(name.Name, nullptr)) return DirResult::kCreated;
  switch (GetLastError()) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return DirResult::kExists;
    // The errors that mean "some part of the path is not there".
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return DirResult::kPathMissing;
    default:
      return DirResult::kFailed;
  }
}

bool SetFileAttributesOf(FileHandle, GuardedPath name, std::uint32_t attributes) {
  const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE);
  return NoLinkOnTheWay(name) && SetFileAttributesA(name.Name, kept) != 0;
}

bool FileDosTime(const char* name, std::uint32_t& dosTime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data)) return false;
  // FILETIME counts 100 ns from 1601; the C library's local time, as on POSIX, takes seconds from 1970.
  const ULONGLONG ticks = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
  const std::time_t seconds = static_cast<std::time_t>((static_cast<long long>(ticks) - 116444736000000000LL) / 10000000LL);
  std::tm local{};
  if (localtime_s(&local, &seconds) != 0) return false;
  dosTime = DosTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return true;
}

bool SetFileTimesFromDos(FileHandle file, std::uint32_t dosTime) {
  FILETIME utc;
  if (!IsOpenFile(file) || !DosToFileTime(dosTime, utc)) return false;
  return SetFileTime(ToHandle(file), &utc, &utc, &utc) != 0;
}

// Windows keeps no Unix permissions; what a new file gets is already right.
bool SetPermissions(FileHandle file, PermissionSource, std::uint32_t) { return IsOpenFile(file); }

bool FinishDirectory(GuardedPath name, std::uint32_t dosTime, PermissionSource, std::uint32_t) {
  FILETIME utc;
  if (!NoLinkOnTheWay(name) || !DosToFileTime(dosTime, utc)) return false;
  const HANDLE folder = CreateFileA(name.Name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(folder, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                  SetFileTime(folder, &utc, &utc, &utc);
  CloseHandle(folder);
  return ok;
}

}  // namespace korvane
