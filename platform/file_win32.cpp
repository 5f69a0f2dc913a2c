// The file layer over the Win32 kernel: CreateFileA and friends, as the installer always did.
#include <windows.h>

#include "platform/file_layer.h"

namespace korvane {
namespace {

HANDLE ToHandle(FileHandle f) { return reinterpret_cast<HANDLE>(f); }
FileHandle FromHandle(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? kFailedFile : reinterpret_cast<FileHandle>(h);
}

}  // namespace

FileHandle OpenFileForReading(const char* name) {
  return FromHandle(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_RANDOM_ACCESS, nullptr));
}

FileHandle CreateFileForWriting(const char* name, CreateMode mode) {
  const DWORD disposition = mode == CreateMode::kCreateNew ? CREATE_NEW : CREATE_ALWAYS;
  return FromHandle(CreateFileA(name, GENERIC_WRITE, 0, nullptr, disposition, FILE_FLAG_WRITE_THROUGH, nullptr));
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

bool PathExists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

bool DeleteFilePath(const char* name) { return DeleteFileA(name) != 0; }

DirResult CreateDirectoryPath(const char* name) {
  if (CreateDirectoryA(name, nullptr)) return DirResult::kCreated;
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

bool SetFileAttributesOf(const char* name, std::uint32_t attributes) {
  const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE);
  return SetFileAttributesA(name, kept) != 0;
}

bool SetFileTimesFromDos(FileHandle file, std::uint32_t dosTime) {
  const DosDateTime t = SplitDosTime(dosTime);
  if (!IsOpenFile(file) || !IsValidDosDateTime(t)) return false;
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.Year);
  st.wMonth = static_cast<WORD>(t.Month);
  st.wDay = static_cast<WORD>(t.Day);
  st.wHour = static_cast<WORD>(t.Hour);
  st.wMinute = static_cast<WORD>(t.Minute);
  st.wSecond = static_cast<WORD>(t.Second);
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
  return SetFileTime(ToHandle(file), &utc, &utc, &utc) != 0;
}

}  // namespace korvane
