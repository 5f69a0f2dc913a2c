// The file layer over POSIX. Engine names use '\'; here they become '/' and every component
// that does not exist as spelled is looked up case-insensitively (ASCII) in its directory.
// Output files never follow an existing symbolic link: the link itself is replaced.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/file_layer.h"

namespace korvane {
namespace {

int ToFd(FileHandle f) { return static_cast<int>(f - 1); }
FileHandle FromFd(int fd) { return fd < 0 ? kFailedFile : static_cast<FileHandle>(fd) + 1; }

bool SameIgnoringCase(const char* a, const std::string& b) {
  if (std::strlen(a) != b.size()) return false;
  for (std::size_t i = 0; i < b.size(); ++i) {
    auto up = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    if (up(static_cast<unsigned char>(a[i])) != up(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The spelling of component inside directory dir that exists, preferring the exact one.
std::string FindComponent(const std::string& dir, const std::string& component) {
  struct stat st;
  if (component == "." || component == ".." || ::lstat((dir + "/" + component).c_str(), &st) == 0) return component;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return component;
  std::string found = component;
  while (const dirent* e = ::readdir(d)) {
    if (SameIgnoringCase(e->d_name, component)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

// Engine name -> POSIX path, each component matched case-insensitively when needed.
std::string Resolve(const char* name) {
  std::string path(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  std::string out = !path.empty() && path[0] == '/' ? "/" : "";
  std::size_t pos = out.size();
  while (pos < path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string component = path.substr(pos, end - pos);
    if (!component.empty()) {
      const std::string dir = out.empty() ? "." : out;
      if (!out.empty() && out.back() != '/') out += '/';
      out += FindComponent(dir, component);
    }
    pos = end + 1;
  }
  if (out.empty()) return path;
  if (path.back() == '/' && out.back() != '/') out += '/';
  return out;
}

}  // namespace

FileHandle OpenFileForReading(const char* name) {
  const std::string path = Resolve(name);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kFailedFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kFailedFile;
  }
  return FromFd(fd);
}

FileHandle CreateFileForWriting(const char* name, CreateMode mode) {
  const std::string path = Resolve(name);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  if (mode == CreateMode::kCreateNew) {
    flags |= O_EXCL;  // O_EXCL fails on any existing name, links included, without following
  } else {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(path.c_str());
    flags |= O_TRUNC;
  }
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0 && mode == CreateMode::kCreateAlways && errno == EACCES) {
    // A read-only file from an earlier run: Windows' create-always fails there too, but the
    // user has agreed to replace it, so remove it and start afresh.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0)
      fd = ::open(path.c_str(), flags, 0666);
  }
  return FromFd(fd);
}

std::uint32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t count) {
  if (!IsOpenFile(file)) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(ToFd(file), out + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return done;
}

std::uint32_t WriteFileRaw(FileHandle file, const void* buffer, std::uint32_t count) {
  if (!IsOpenFile(file)) return 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(ToFd(file), in + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<std::uint32_t>(put);
  }
  return done;
}

std::int64_t SeekFile(FileHandle file, std::int64_t offset, int base) {
  if (!IsOpenFile(file)) return -1;
  static constexpr int kWhence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (base < 0 || base > 2) return -1;
  const off_t pos = ::lseek(ToFd(file), static_cast<off_t>(offset), kWhence[base]);
  return pos < 0 ? -1 : static_cast<std::int64_t>(pos);
}

std::uint64_t FileLengthOf(FileHandle file) {
  struct stat st;
  if (!IsOpenFile(file) || ::fstat(ToFd(file), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

void CloseFileHandle(FileHandle file) {
  if (IsOpenFile(file)) ::close(ToFd(file));
}

bool PathExists(const char* name) {
  struct stat st;
  return ::lstat(Resolve(name).c_str(), &st) == 0;
}

bool DeleteFilePath(const char* name) {
  const std::string path = Resolve(name);
  struct stat st;
  // DeleteFileA removes files only; a directory of that name stays.
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

DirResult CreateDirectoryPath(const char* name) {
  std::string path = Resolve(name);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (::mkdir(path.c_str(), 0777) == 0) return DirResult::kCreated;
  switch (errno) {
    case EEXIST:
      return DirResult::kExists;
    case ENOENT:
    case ENOTDIR:
      return DirResult::kPathMissing;
    default:
      return DirResult::kFailed;
  }
}

bool SetFileAttributesOf(const char* name, std::uint32_t attributes) {
  const std::string path = Resolve(name);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & 0x01) mode &= static_cast<mode_t>(~0222);
  return ::chmod(path.c_str(), mode) == 0;
}

bool SetFileTimesFromDos(FileHandle file, std::uint32_t dosTime) {
  const DosDateTime t = SplitDosTime(dosTime);
  if (!IsOpenFile(file) || !IsValidDosDateTime(t)) return false;
  std::tm local{};
  local.tm_year = t.Year - 1900;
  local.tm_mon = t.Month - 1;
  local.tm_mday = t.Day;
  local.tm_hour = t.Hour;
  local.tm_min = t.Minute;
  local.tm_sec = t.Second;
  local.tm_isdst = -1;  // let the time zone rules decide, as the Windows conversion does
  const std::time_t when = std::mktime(&local);
  if (when == static_cast<std::time_t>(-1)) return false;
  struct timespec times[2];
  times[0].tv_sec = when;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::futimens(ToFd(file), times) == 0;
}

}  // namespace korvane
