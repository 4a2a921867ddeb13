// Files written under their final name only once complete, and never through a
// link planted in the output directory.
//
// A file is written into a temporary file beside its final name (a hidden name,
// ".<name>.tmp-<pid>-<random>", created exclusively: an existing file or link of
// that name is never opened), then renamed over the final name. rename() replaces
// a link at the final name instead of following it. Until it is committed or
// discarded, every temporary file is kept in a process-wide registry, so that a
// run stopped by SIGINT or SIGTERM removes it before it ends (see
// installTempFileCleanup). The registry is process-wide because a signal handler
// has no other way to reach it; it holds nothing else.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace tk {

// Creates the temporary file for `finalPath` in finalPath's directory, mode
// 0666 less the umask, and registers it for removal on SIGINT/SIGTERM. Returns
// its descriptor (close-on-exec, write-only; the caller owns it) and its name in
// `tempPath`, or -1 with "<strerror>" in `error`.
int createTempFile(const std::string& finalPath, std::string& tempPath, std::string& error);

// Ends the temporary file: closes `fd` (when >= 0; -1 when the caller already
// closed it), flushes it to the device first when `durable`, renames it to
// `finalPath` and, when `durable`, flushes the directory too. On failure the
// temporary file is removed and `error` holds "<strerror>". Either way the file
// leaves the registry.
bool commitTempFile(int fd, const std::string& tempPath, const std::string& finalPath, bool durable,
                    std::string& error);

// Closes `fd` (when >= 0), removes the temporary file and unregisters it.
void discardTempFile(int fd, const std::string& tempPath);

// Writes all of `size` bytes to `fd`, retrying after interruptions; false with
// errno set when the device refuses (EFBIG, ENOSPC, EIO, ...).
bool writeFully(int fd, const void* data, std::size_t size);

// For a whole process, once, before any output is written: SIGINT and SIGTERM
// remove this process's registered temporary files, then end the process as the
// signal would; SIGPIPE and SIGXFSZ are ignored, so that a closed pipe or a file
// past the size limit is a failed write (EPIPE, EFBIG) reported like any other.
void installTempFileCleanup();

// What readRegularFile found at a path.
enum class FileRead {
  ok,
  link,     // a symbolic link, refused as asked: nothing was opened through it
  refused,  // not readable as asked: `error` says why
};

// Reads the whole regular file at `path` into `text`, refusing, without reading a
// byte of it, what is not one: a FIFO (which would wait for a writer for ever), a
// device (which may never end), a directory, and with `followLinks` false a
// symbolic link. The kind is looked at before the file is opened (a device is
// never opened) and again on the open descriptor (opened non-blocking, and with
// O_NOFOLLOW when links are refused), so that a file swapped in between is caught.
// A file of more than `limit` bytes is refused too ("larger than 1 MiB"), read
// or growing. On `refused`, `error` is "<strerror>", "not a regular file (a
// FIFO)" (a device, a directory, a socket) or "larger than N MiB"; on `link`,
// "a symbolic link". `text` is empty unless ok.
FileRead readRegularFile(const std::string& path, std::size_t limit, bool followLinks, std::string& text,
                         std::string& error);

// Copies the regular file `source` (never through a link: readRegularFile with
// links refused and `limit`) to `target` through a temporary file renamed into
// place, so that a link at `target` is replaced, never written through. False
// with "<source>: <why>" or "cannot write <target>: <why>" in `error`; no
// temporary file is left then.
bool copyRegularFile(const std::string& source, const std::string& target, std::size_t limit, std::string& error);

// Removes the hidden temporary files in `directory` that the process `pid` left
// (one killed before it could remove them itself). Returns how many.
int removeTempFilesOf(const std::string& directory, pid_t pid);

}  // namespace tk
