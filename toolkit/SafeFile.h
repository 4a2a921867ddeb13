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

// Removes the hidden temporary files in `directory` that the process `pid` left
// (one killed before it could remove them itself). Returns how many.
int removeTempFilesOf(const std::string& directory, pid_t pid);

}  // namespace tk
