// The file layer over POSIX. Engine names use '\'; here they become '/' and every component
// that does not exist as spelled is looked up case-insensitively (ASCII) in its directory.
// Output files never follow an existing symbolic link: the link itself is replaced.
//
// Linear installs: while any file of this layer is open (a run holds its archive open from
// start to end), the directories it resolved and the listings it read for case-insensitive
// lookups are remembered, and what it creates or deletes is entered into them, so a run reads
// each directory at most once instead of once per file. Changes made by other programs in that
// time are not seen; when the last file is closed, everything is forgotten. Files open for
// reading go through a buffer of their own, so header-sized reads and short seeks cost no
// system call.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_layer.h"

namespace korvane {
namespace {

int ToFd(FileHandle f) { return static_cast<int>(f - 1); }
FileHandle FromFd(int fd) { return fd < 0 ? kFailedFile : static_cast<FileHandle>(fd) + 1; }

// Large enough that an archive of small entries is read in few calls, small enough to stay
// in the second-level cache while the entries are copied out of it.
constexpr std::uint32_t kReadAheadSize = 256 * 1024;

// The buffer of one file open for reading. The descriptor stands at endOffset, the file
// offset just past data[end - 1]; data[next, end) is read from the file but not yet handed out.
struct ReadAhead {
  std::unique_ptr<std::uint8_t[]> data;
  std::uint32_t next = 0, end = 0;
  std::int64_t endOffset = 0;

  std::int64_t Position() const { return endOffset - (end - next); }
  void Drop(std::int64_t at) {
    next = end = 0;
    endOffset = at;
  }
};

std::string FoldCase(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return folded;
}

// The names of one directory by their case-folded spelling, each in the order readdir gave
// them (the first one found is the one a case-insensitive lookup takes).
using Listing = std::unordered_map<std::string, std::vector<std::string>>;

enum class Presence { kUnknown, kPresent, kAbsent };

struct Resolved {
  std::string path;    // the POSIX path to use
  std::string parent;  // the directory it lies in, as a key of the remembered listings
  std::string leaf;    // its last component as found on disk; empty for "" and "/"
  Presence presence = Presence::kUnknown;
};

// Everything remembered, under one lock: the installer reads from a worker thread while the
// front end may look up names.
struct LayerMemory {
  std::mutex lock;
  std::unordered_map<int, std::unique_ptr<ReadAhead>> open;  // every descriptor handed out; a buffer when reading
  std::unordered_map<std::string, Listing> listings;         // by directory path as found on disk
  std::unordered_map<std::string, std::string> directories;  // '/'-separated name -> existing path found for it
};

LayerMemory& Memory() {
  static LayerMemory memory;
  return memory;
}

bool ReadListing(const std::string& dir, Listing& listing) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") listing[FoldCase(name)].emplace_back(name);
  }
  ::closedir(d);
  return true;
}

// The exact spelling wins when it is there, as the system the archives come from would have it.
std::string LookUp(const Listing& listing, std::string_view component, Presence& presence) {
  const auto it = listing.find(FoldCase(component));
  presence = it == listing.end() ? Presence::kAbsent : Presence::kPresent;
  if (it == listing.end() || std::find(it->second.begin(), it->second.end(), component) != it->second.end())
    return std::string(component);
  return it->second.front();
}

// The spelling of component inside directory dir that exists, preferring the exact one.
std::string FindComponent(LayerMemory& m, bool remember, const std::string& dir, std::string_view component,
                          Presence& presence) {
  if (component == "." || component == "..") {
    presence = Presence::kUnknown;  // "x/.." is there only when x is: for the caller or lstat to say
    return std::string(component);
  }
  presence = Presence::kPresent;
  if (remember) {
    const auto it = m.listings.find(dir);
    if (it != m.listings.end()) return LookUp(it->second, component, presence);
  }
  struct stat st;
  if (::lstat((dir + "/").append(component).c_str(), &st) == 0) return std::string(component);
  Listing listing;
  if (!ReadListing(dir, listing)) {
    presence = Presence::kUnknown;
    return std::string(component);
  }
  std::string found = LookUp(listing, component, presence);
  if (remember) m.listings.emplace(dir, std::move(listing));
  return found;
}

// Engine name -> POSIX path, each component matched case-insensitively when needed.
Resolved Resolve(const char* name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  const bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string_view> parts;
  for (std::size_t pos = 0; pos < path.size();) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    if (end > pos) parts.emplace_back(path.data() + pos, end - pos);
    pos = end + 1;
  }
  // The key of the directory made of the first n components, as the engine spelled them.
  auto keyOf = [&](std::size_t n) {
    std::string key = absolute ? "/" : "";
    for (std::size_t i = 0; i < n; ++i) key.append(i == 0 ? "" : "/").append(parts[i]);
    return key;
  };

  LayerMemory& m = Memory();
  const std::lock_guard<std::mutex> guard(m.lock);
  const bool remember = !m.open.empty();
  std::string out = absolute ? "/" : "";
  std::size_t first = 0;
  if (remember && parts.size() > 1) {
    const auto it = m.directories.find(keyOf(parts.size() - 1));
    if (it != m.directories.end()) {
      out = it->second;
      first = parts.size() - 1;
    }
  }
  Resolved r;
  bool allPresent = true;  // only directories that exist are remembered: one made later may differ in case
  for (std::size_t i = first; i < parts.size(); ++i) {
    const std::string dir = out.empty() ? "." : out;
    Presence presence;
    const std::string found = FindComponent(m, remember, dir, parts[i], presence);
    if (!out.empty() && out.back() != '/') out += '/';
    out += found;
    if (i + 1 == parts.size()) {
      r.parent = dir;
      r.leaf = found;
      r.presence = presence;
    } else {
      const bool dots = parts[i] == "." || parts[i] == "..";
      allPresent = allPresent && (presence == Presence::kPresent || dots);
      if (remember && allPresent) m.directories.emplace(keyOf(i + 1), out);
    }
  }
  if (out.empty()) {
    r.path = path;
    return r;
  }
  if (path.back() == '/' && out.back() != '/') out += '/';
  r.path = std::move(out);
  return r;
}

// What this layer creates or deletes goes into the remembered listing of its directory (if
// there is one), so that later lookups see it without reading the directory again.
void NoteCreated(const Resolved& r, bool directory) {
  if (r.leaf.empty() || r.leaf == "." || r.leaf == "..") return;
  LayerMemory& m = Memory();
  const std::lock_guard<std::mutex> guard(m.lock);
  if (m.open.empty()) return;
  const auto it = m.listings.find(r.parent);
  if (it != m.listings.end()) {
    std::vector<std::string>& names = it->second[FoldCase(r.leaf)];
    if (std::find(names.begin(), names.end(), r.leaf) == names.end()) names.push_back(r.leaf);
  }
  // A directory just made is empty: nothing to read when the first name in it is looked up.
  if (directory) {
    std::string key = r.path;
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    m.listings.emplace(std::move(key), Listing{});
  }
}

void NoteDeleted(const Resolved& r) {
  LayerMemory& m = Memory();
  const std::lock_guard<std::mutex> guard(m.lock);
  const auto it = m.listings.find(r.parent);
  if (it == m.listings.end()) return;
  const auto names = it->second.find(FoldCase(r.leaf));
  if (names == it->second.end()) return;
  std::erase(names->second, r.leaf);
  if (names->second.empty()) it->second.erase(names);
}

void Register(int fd, bool reading) {
  LayerMemory& m = Memory();
  const std::lock_guard<std::mutex> guard(m.lock);
  m.open[fd] = reading ? std::make_unique<ReadAhead>() : nullptr;
}

void Unregister(int fd) {
  LayerMemory& m = Memory();
  const std::lock_guard<std::mutex> guard(m.lock);
  if (m.open.erase(fd) == 0 || !m.open.empty()) return;
  m.listings.clear();
  m.directories.clear();
}

// The buffer of a file open for reading; only the thread using the handle touches it.
ReadAhead* ReadAheadOf(int fd) {
  LayerMemory& m = Memory();
  const std::lock_guard<std::mutex> guard(m.lock);
  const auto it = m.open.find(fd);
  return it == m.open.end() ? nullptr : it->second.get();
}

std::uint32_t ReadFully(int fd, unsigned char* out, std::uint32_t count) {
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, out + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::uint32_t>(got);
  }
  return done;
}

}  // namespace

FileHandle OpenFileForReading(const char* name) {
  const std::string path = Resolve(name).path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kFailedFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kFailedFile;
  }
  Register(fd, true);
  return FromFd(fd);
}

FileHandle CreateFileForWriting(const char* name, CreateMode mode) {
  const Resolved r = Resolve(name);
  const std::string& path = r.path;
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
  if (fd >= 0) {
    Register(fd, false);
    NoteCreated(r, false);
  }
  return FromFd(fd);
}

std::uint32_t ReadFileBytes(FileHandle file, void* buffer, std::uint32_t count) {
  if (!IsOpenFile(file)) return 0;
  const int fd = ToFd(file);
  auto* out = static_cast<unsigned char*>(buffer);
  ReadAhead* ra = ReadAheadOf(fd);
  if (ra == nullptr) return ReadFully(fd, out, count);
  std::uint32_t done = 0;
  while (done < count) {
    if (ra->next == ra->end) {
      if (!ra->data) ra->data.reset(new (std::nothrow) std::uint8_t[kReadAheadSize]);
      // A request as large as the buffer gains nothing from it: straight into the caller's memory.
      if (count - done >= kReadAheadSize || !ra->data) {
        const std::uint32_t got = ReadFully(fd, out + done, count - done);
        ra->Drop(ra->endOffset + got);
        return done + got;
      }
      ssize_t got;
      do got = ::read(fd, ra->data.get(), kReadAheadSize);
      while (got < 0 && errno == EINTR);
      if (got <= 0) break;
      ra->next = 0;
      ra->end = static_cast<std::uint32_t>(got);
      ra->endOffset += got;
    }
    const std::uint32_t take = std::min(count - done, ra->end - ra->next);
    std::memcpy(out + done, ra->data.get() + ra->next, take);
    ra->next += take;
    done += take;
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
  const int fd = ToFd(file);
  ReadAhead* ra = ReadAheadOf(fd);
  if (ra != nullptr && base != kSeekEnd) {
    // The descriptor stands past the buffer, so a move relative to where the reader is must
    // be turned into an absolute one; a target inside the buffer needs no system call at all.
    const std::int64_t from = base == kSeekStart ? 0 : ra->Position();
    if (offset > 0 && from > std::numeric_limits<std::int64_t>::max() - offset) return -1;
    const std::int64_t target = from + offset;
    const std::int64_t bufferStart = ra->endOffset - ra->end;
    if (target >= bufferStart && target <= ra->endOffset) {
      ra->next = static_cast<std::uint32_t>(target - bufferStart);
      return target;
    }
    const off_t pos = ::lseek(fd, static_cast<off_t>(target), SEEK_SET);
    if (pos < 0) return -1;
    ra->Drop(pos);
    return static_cast<std::int64_t>(pos);
  }
  const off_t pos = ::lseek(fd, static_cast<off_t>(offset), kWhence[base]);
  if (pos < 0) return -1;
  if (ra != nullptr) ra->Drop(pos);
  return static_cast<std::int64_t>(pos);
}

std::uint64_t FileLengthOf(FileHandle file) {
  struct stat st;
  if (!IsOpenFile(file) || ::fstat(ToFd(file), &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

void CloseFileHandle(FileHandle file) {
  if (!IsOpenFile(file)) return;
  Unregister(ToFd(file));
  ::close(ToFd(file));
}

bool PathExists(const char* name) {
  const Resolved r = Resolve(name);
  if (r.presence != Presence::kUnknown) return r.presence == Presence::kPresent;
  struct stat st;
  return ::lstat(r.path.c_str(), &st) == 0;
}

bool DeleteFilePath(const char* name) {
  const Resolved r = Resolve(name);
  struct stat st;
  // DeleteFileA removes files only; a directory of that name stays.
  if (::lstat(r.path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (::unlink(r.path.c_str()) != 0) return false;
  NoteDeleted(r);
  return true;
}

DirResult CreateDirectoryPath(const char* name) {
  Resolved r = Resolve(name);
  std::string& path = r.path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (::mkdir(path.c_str(), 0777) == 0) {
    NoteCreated(r, true);
    return DirResult::kCreated;
  }
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
  const std::string path = Resolve(name).path;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  const mode_t mode = st.st_mode & 07777;
  if (!(attributes & 0x01)) return true;  // only read-only changes anything here
  return ::chmod(path.c_str(), mode & static_cast<mode_t>(~0222)) == 0;
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
