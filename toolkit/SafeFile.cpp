#include "toolkit/SafeFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace tk {

namespace {

// The registry of temporary files not yet committed or discarded. A slot belongs
// to the process whose id it holds: a forked child inherits its parent's slots
// but never removes their files. Plain storage, so that the signal handler may
// read it without allocating or locking.
constexpr int kSlots = 64;
constexpr std::size_t kLongestPath = 4096;
struct Slot {
  std::atomic<pid_t> owner{0};  // 0 free, -1 being filled
  char path[kLongestPath];
};
Slot registry[kSlots];

void registerTemp(const std::string& path) {
  if (path.size() >= kLongestPath) return;  // left to the caller's own removal
  for (Slot& slot : registry) {
    pid_t free = 0;
    if (!slot.owner.compare_exchange_strong(free, -1)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.owner.store(::getpid());
    return;
  }
}

void unregisterTemp(const std::string& path) {
  const pid_t self = ::getpid();
  for (Slot& slot : registry) {
    if (slot.owner.load() == self && path == slot.path) {
      slot.owner.store(0);
      return;
    }
  }
}

extern "C" void removeTempFilesAndEnd(int signal) {
  const pid_t self = ::getpid();
  for (Slot& slot : registry) {
    if (slot.owner.load() == self) ::unlink(slot.path);
  }
  // SA_RESETHAND has restored the default action; SA_NODEFER lets it act now.
  ::raise(signal);
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Six characters of a name no other creation is likely to pick; O_EXCL settles
// the rare clash.
std::string randomPart() {
  static std::atomic<std::uint64_t> counter{0};
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t x = (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^ static_cast<std::uint64_t>(now.tv_sec) ^
                    (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string part;
  for (int k = 0; k < 6; ++k) {
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ULL;
    part += kLetters[x % 62];
  }
  return part;
}

bool syncDirectory(const std::string& directory) {
  const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot
  ::close(fd);
  return synced;
}

}  // namespace

int createTempFile(const std::string& finalPath, std::string& tempPath, std::string& error) {
  const std::string directory = directoryOf(finalPath);
  const std::string prefix =
      directory + "." + finalPath.substr(directory.size()) + ".tmp-" + std::to_string(::getpid()) + "-";
  // A stop between creating the file and registering it would leave the file
  // behind: the stop signals wait until it is registered.
  sigset_t stops;
  sigset_t previous;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = prefix + randomPart();
    // O_EXCL: a file or a link already at the name is an error, never opened.
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      registerTemp(tempPath);
      pthread_sigmask(SIG_SETMASK, &previous, nullptr);
      return fd;
    }
    if (errno != EEXIST) break;
  }
  const int failure = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = failure;
  error = std::strerror(errno);
  tempPath.clear();
  return -1;
}

bool commitTempFile(int fd, const std::string& tempPath, const std::string& finalPath, bool durable,
                    std::string& error) {
  int failure = 0;
  if (fd < 0 && durable) fd = ::open(tempPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    if (durable && ::fsync(fd) != 0 && errno != EINVAL) failure = errno;
    if (::close(fd) != 0 && failure == 0 && errno != EINTR) failure = errno;
  }
  if (failure == 0 && std::rename(tempPath.c_str(), finalPath.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(tempPath.c_str());
    unregisterTemp(tempPath);
    error = std::strerror(failure);
    return false;
  }
  unregisterTemp(tempPath);
  if (durable && !syncDirectory(directoryOf(finalPath))) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

void discardTempFile(int fd, const std::string& tempPath) {
  if (fd >= 0) ::close(fd);
  if (tempPath.empty()) return;
  ::unlink(tempPath.c_str());
  unregisterTemp(tempPath);
}

bool writeFully(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void installTempFileCleanup() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
  struct sigaction cleanup {};
  cleanup.sa_handler = removeTempFilesAndEnd;
  sigemptyset(&cleanup.sa_mask);
  cleanup.sa_flags = SA_RESETHAND | SA_NODEFER;
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    // A process started with SIGINT ignored (a background job of a shell) keeps it so.
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &cleanup, nullptr);
  }
}

namespace {

// What a file that is not a regular one is, for messages.
const char* kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a file";
}

std::string sizeWord(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB" : std::to_string(bytes) + " bytes";
}

// Why the file of this kind and size is not read; "" when it is read.
std::string refusal(const struct stat& info, std::size_t limit) {
  if (!S_ISREG(info.st_mode)) return std::string("not a regular file (") + kindOf(info.st_mode) + ")";
  if (static_cast<std::uint64_t>(info.st_size) > limit) return "larger than " + sizeWord(limit);
  return "";
}

}  // namespace

FileRead readRegularFile(const std::string& path, std::size_t limit, bool followLinks, std::string& text,
                         std::string& error) {
  text.clear();
  struct stat info {};
  if ((followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info)) != 0) {
    error = std::strerror(errno);
    return FileRead::refused;
  }
  if (S_ISLNK(info.st_mode)) {
    error = "a symbolic link";
    return FileRead::link;
  }
  if (!(error = refusal(info, limit)).empty()) return FileRead::refused;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    const bool link = errno == ELOOP && !followLinks;
    error = link ? "a symbolic link" : std::strerror(errno);
    return link ? FileRead::link : FileRead::refused;
  }
  if (::fstat(fd, &info) != 0 || !(error = refusal(info, limit)).empty()) {
    if (error.empty()) error = std::strerror(errno);
    ::close(fd);
    return FileRead::refused;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) error = std::strerror(errno);
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > limit) {  // grown since it was looked at
      error = "larger than " + sizeWord(limit);
      break;
    }
  }
  ::close(fd);
  if (error.empty()) return FileRead::ok;
  text.clear();
  return FileRead::refused;
}

bool copyRegularFile(const std::string& source, const std::string& target, std::size_t limit, std::string& error) {
  std::string text;
  std::string reason;
  if (readRegularFile(source, limit, false, text, reason) != FileRead::ok) {
    error = source + ": " + reason;
    return false;
  }
  std::string temporary;
  const int fd = createTempFile(target, temporary, reason);
  if (fd < 0) {
    error = "cannot write " + target + ": " + reason;
    return false;
  }
  if (!writeFully(fd, text.data(), text.size())) {
    error = "cannot write " + target + ": " + std::strerror(errno);
    discardTempFile(fd, temporary);
    return false;
  }
  if (!commitTempFile(fd, temporary, target, false, reason)) {
    error = "cannot write " + target + ": " + reason;
    return false;
  }
  return true;
}

int removeTempFilesOf(const std::string& directory, pid_t pid) {
  const std::string mark = ".tmp-" + std::to_string(pid) + "-";
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  std::string base = directory;
  if (!base.empty() && base.back() != '/') base += '/';
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 1 && name[0] == '.' && name.find(mark) != std::string::npos &&
        ::unlink((base + name).c_str()) == 0) {
      ++removed;
    }
  }
  ::closedir(dir);
  return removed;
}

}  // namespace tk
