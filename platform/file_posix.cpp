// The file layer over POSIX. Engine names use '\'; here they become '/' and every component
// that does not exist as spelled is looked up case-insensitively (ASCII) in its directory.
// Output files never follow an existing symbolic link: the link itself is replaced. Below the
// destination of a GuardedPath, folders are opened one by one with O_NOFOLLOW, and every change
// is made relative to the folder found that way (openat, renameat, mkdirat), so a link put in
// the way at any moment is met, never followed.
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

#include "archive/archive_layout.h"
#include "platform/file_layer.h"
#include "platform/guarded_path.h"

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


thread_local bool t_metLink = false;

#ifdef O_PATH
// A folder opened only to reach what is inside it: no read permission needed.
constexpr int kFolderOpen = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderOpen = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

class FolderFd {
 public:
  FolderFd() = default;
  explicit FolderFd(int fd) : Fd(fd) {}
  FolderFd(const FolderFd&) = delete;
  FolderFd& operator=(const FolderFd&) = delete;
  FolderFd(FolderFd&& other) noexcept : Fd(other.Fd) { other.Fd = -1; }
  FolderFd& operator=(FolderFd&& other) noexcept {
    std::swap(Fd, other.Fd);
    return *this;
  }
  ~FolderFd() {
    if (Fd >= 0) ::close(Fd);
  }
  int Get() const { return Fd; }

 private:
  int Fd = -1;
};

enum class Reach { kOk, kLink, kMissing, kFailed };

// The folder that holds the last component of name, and that component as found on disk. The
// trusted folders are opened as a path (links followed: the user chose them); each folder
// below them is opened from its parent without following a link, and ".." is never climbed.
struct Parent {
  Resolved Path;
  FolderFd Folder;
  Reach Result = Reach::kFailed;
  int Error = 0;  // errno of the failure
  const std::string& Leaf() const { return Path.leaf; }
  bool Ok() const { return Result == Reach::kOk; }
};

Parent OpenParent(const GuardedPath& name) {
  Parent p;
  p.Path = Resolve(name.Name);
  std::vector<std::string> parts;
  for (std::size_t pos = 0; pos < p.Path.path.size();) {
    std::size_t end = p.Path.path.find('/', pos);
    if (end == std::string::npos) end = p.Path.path.size();
    if (end > pos) parts.push_back(p.Path.path.substr(pos, end - pos));
    pos = end + 1;
  }
  if (parts.empty()) {
    p.Error = ENOENT;
    return p;
  }
  p.Path.leaf = parts.back();
  const std::size_t trusted = std::min(detail::TrustedFolderCount(name), parts.size() - 1);
  std::string root = !p.Path.path.empty() && p.Path.path[0] == '/' ? "/" : "";
  for (std::size_t i = 0; i < trusted; ++i) root.append(i == 0 ? "" : "/").append(parts[i]);
  int fd = ::open(root.empty() ? "." : root.c_str(), kFolderOpen);
  for (std::size_t i = trusted; fd >= 0 && i + 1 < parts.size(); ++i) {
    if (parts[i] == ".") continue;
    int next = parts[i] == ".." ? -1 : ::openat(fd, parts[i].c_str(), kFolderOpen | O_NOFOLLOW);
    struct stat st;
    if (next >= 0 && (::fstat(next, &st) != 0 || !S_ISDIR(st.st_mode))) {
      ::close(next);
      next = -1;
      errno = ENOTDIR;
    }
    const int error = parts[i] == ".." ? EPERM : errno;
    if (next < 0) {
      const bool link = ::fstatat(fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      ::close(fd);
      p.Error = error;
      p.Result = link ? Reach::kLink : error == ENOENT ? Reach::kMissing : Reach::kFailed;
      t_metLink = link;
      return p;
    }
    ::close(fd);
    fd = next;
  }
  if (fd < 0) {
    p.Error = errno;
    p.Result = p.Error == ENOENT || p.Error == ENOTDIR ? Reach::kMissing : Reach::kFailed;
    t_metLink = false;
    return p;
  }
  p.Folder = FolderFd(fd);
  p.Result = Reach::kOk;
  t_metLink = false;
  return p;
}

// The user's file-creation mask, read without changing it where the system can tell it.
mode_t CurrentUmask() {
  static const mode_t mask = [] {
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
      char line[128];
      unsigned value = 0;
      bool found = false;
      while (!found && std::fgets(line, sizeof line, f) != nullptr) found = std::sscanf(line, "Umask: %o", &value) == 1;
      std::fclose(f);
      if (found) return static_cast<mode_t>(value);
    }
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
  }();
  return mask;
}

mode_t PermissionBits(PermissionSource source, std::uint32_t unixMode, bool directory) {
  if (source == PermissionSource::kDefault) return (directory ? 0777 : 0666) & ~CurrentUmask();
  const mode_t bits = static_cast<mode_t>(unixMode & 0777);
  return ::geteuid() == 0 ? bits : bits & ~CurrentUmask();
}

bool DosToTimespec(std::uint32_t dosTime, struct timespec& out) {
  const DosDateTime t = SplitDosTime(dosTime);
  if (!IsValidDosDateTime(t)) return false;
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
  out.tv_sec = when;
  out.tv_nsec = 0;
  return true;
}

// Renames within folders without replacing anything; false with EEXIST when to exists.
bool RenameNoReplace(int fromDir, const char* from, int toDir, const char* to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  struct stat st;
  if (::fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::renameat(fromDir, from, toDir, to) == 0;
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

FileHandle CreateFileForWriting(GuardedPath name, CreateMode mode) {
  const Parent p = OpenParent(name);
  if (!p.Ok()) return kFailedFile;
  const int dir = p.Folder.Get();
  const char* leaf = p.Leaf().c_str();
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  if (mode == CreateMode::kCreateNew) {
    flags |= O_EXCL;  // O_EXCL fails on any existing name, links included, without following
  } else {
    struct stat st;
    if (::fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) ::unlinkat(dir, leaf, 0);
    flags |= O_TRUNC;
  }
  int fd = ::openat(dir, leaf, flags, 0666);
  if (fd < 0 && mode == CreateMode::kCreateAlways && errno == EACCES) {
    // A read-only file from an earlier run: Windows' create-always fails there too, but the
    // user has agreed to replace it, so remove it and start afresh.
    struct stat st;
    if (::fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && ::unlinkat(dir, leaf, 0) == 0)
      fd = ::openat(dir, leaf, flags, 0666);
  }
  if (fd >= 0) {
    Register(fd, false);
    NoteCreated(p.Path, false);
  }
  return FromFd(fd);
}

FileHandle CreateTemporaryBeside(GuardedPath name, char* tempName, std::size_t capacity) {
  const Parent p = OpenParent(name);
  if (!p.Ok()) return kFailedFile;
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string leaf = detail::OwnLeafName("tmp");
    if (!detail::WriteSiblingName(name.Name, leaf, tempName, capacity)) return kFailedFile;
    const int fd = ::openat(p.Folder.Get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      Register(fd, false);
      return FromFd(fd);
    }
    if (errno != EEXIST) return kFailedFile;
  }
  return kFailedFile;
}

bool MoveOnto(GuardedPath from, GuardedPath to, char* asideName, std::size_t asideCapacity) {
  const Parent source = OpenParent(from);
  if (!source.Ok()) return false;
  const Parent target = OpenParent(to);
  if (!target.Ok()) return false;
  const int dir = target.Folder.Get();
  const char* leaf = target.Leaf().c_str();
  std::string aside;
  struct stat st;
  if (asideName != nullptr) {
    asideName[0] = '\0';
    for (int attempt = 0; attempt < 64 && ::fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0; ++attempt) {
      const std::string candidate = detail::OwnLeafName("bak");
      if (!detail::WriteSiblingName(to.Name, candidate, asideName, asideCapacity)) return false;
      if (RenameNoReplace(dir, leaf, dir, candidate.c_str())) {
        aside = candidate;
        NoteDeleted(target.Path);
        break;
      }
      if (errno != EEXIST) return false;
    }
    if (aside.empty()) {
      asideName[0] = '\0';  // a failed candidate may be written there
      if (::fstatat(dir, leaf, &st, AT_SYMLINK_NOFOLLOW) == 0) return false;
    }
  }
  if (::renameat(source.Folder.Get(), source.Leaf().c_str(), dir, leaf) != 0) {
    if (!aside.empty() && ::renameat(dir, aside.c_str(), dir, leaf) == 0) asideName[0] = '\0';
    return false;
  }
  NoteCreated(target.Path, false);
  return true;
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

bool LastPathMetLink() { return t_metLink; }

bool PathExists(GuardedPath name) {
  if (name.RootLength == GuardedPath::kAllTrusted) {
    t_metLink = false;
    const Resolved r = Resolve(name.Name);
    if (r.presence != Presence::kUnknown) return r.presence == Presence::kPresent;
    struct stat st;
    return ::lstat(r.path.c_str(), &st) == 0;
  }
  const Parent p = OpenParent(name);
  struct stat st;
  return p.Ok() && ::fstatat(p.Folder.Get(), p.Leaf().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsDirectoryPath(GuardedPath name) {
  const Parent p = OpenParent(name);
  struct stat st;
  return p.Ok() && ::fstatat(p.Folder.Get(), p.Leaf().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFilePath(GuardedPath name) {
  const Parent p = OpenParent(name);
  struct stat st;
  // DeleteFileA removes files only; a directory of that name stays.
  if (!p.Ok() || ::fstatat(p.Folder.Get(), p.Leaf().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
    return false;
  if (::unlinkat(p.Folder.Get(), p.Leaf().c_str(), 0) != 0) return false;
  NoteDeleted(p.Path);
  return true;
}

bool RemoveEmptyDirectory(GuardedPath name) {
  const Parent p = OpenParent(name);
  if (!p.Ok() || ::unlinkat(p.Folder.Get(), p.Leaf().c_str(), AT_REMOVEDIR) != 0) return false;
  NoteDeleted(p.Path);
  LayerMemory& m = Memory();
  const std::lock_guard<std::mutex> guard(m.lock);
  m.directories.clear();  // a path remembered inside it would now name nothing
  return true;
}

DirResult CreateDirectoryPath(GuardedPath name) {
  Parent p = OpenParent(name);
  switch (p.Result) {
    case Reach::kOk:
      break;
    case Reach::kLink:
      return DirResult::kThroughLink;
    case Reach::kMissing:
      return DirResult::kPathMissing;
    case Reach::kFailed:
      return p.Error == ENOTDIR ? DirResult::kPathMissing : DirResult::kFailed;
  }
  if (::mkdirat(p.Folder.Get(), p.Leaf().c_str(), 0777) == 0) {
    while (p.Path.path.size() > 1 && p.Path.path.back() == '/') p.Path.path.pop_back();
    NoteCreated(p.Path, true);
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

bool SetFileAttributesOf(FileHandle file, GuardedPath, std::uint32_t attributes) {
  struct stat st;
  if (!IsOpenFile(file) || ::fstat(ToFd(file), &st) != 0) return false;
  if (!(attributes & 0x01)) return true;  // only read-only changes anything here
  return ::fchmod(ToFd(file), (st.st_mode & 07777) & static_cast<mode_t>(~0222)) == 0;
}

bool FileDosTime(const char* name, std::uint32_t& dosTime) {
  struct stat st;
  std::tm local{};
  if (::stat(Resolve(name).path.c_str(), &st) != 0 || localtime_r(&st.st_mtime, &local) == nullptr) return false;
  dosTime = DosTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return true;
}

bool SetFileTimesFromDos(FileHandle file, std::uint32_t dosTime) {
  struct timespec times[2];
  if (!IsOpenFile(file) || !DosToTimespec(dosTime, times[0])) return false;
  times[1] = times[0];
  return ::futimens(ToFd(file), times) == 0;
}

bool SetPermissions(FileHandle file, PermissionSource source, std::uint32_t unixMode) {
  return IsOpenFile(file) && ::fchmod(ToFd(file), PermissionBits(source, unixMode, false)) == 0;
}

bool FinishDirectory(GuardedPath name, std::uint32_t dosTime, PermissionSource source, std::uint32_t unixMode) {
  const Parent p = OpenParent(name);
  if (!p.Ok()) return false;
  const FolderFd folder(::openat(p.Folder.Get(), p.Leaf().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.Get() < 0) return false;
  struct timespec times[2];
  bool ok = true;
  if (DosToTimespec(dosTime, times[0])) {
    times[1] = times[0];
    ok = ::futimens(folder.Get(), times) == 0;
  }
  if (source == PermissionSource::kUnixMode) ok = ::fchmod(folder.Get(), PermissionBits(source, unixMode, true)) == 0 && ok;
  return ok;
}

}  // namespace korvane
