// Helpers shared by the tests: scratch directories and files, the bundled
// example scans, and starting the built program.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "toolkit/PngRead.h"

namespace testsupport {

// A fresh, empty directory under the system's temporary directory, removed with
// everything in it (read-only parts included) when the object goes away. Beside
// it, tmp(): an empty directory that the programs a test starts in it take as
// their TMPDIR; the test fails when they leave anything there.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string tmp() const { return path_ + ".tmp"; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& content);  // binary, replacing
std::string readFile(const std::string& path);                        // "" if unreadable
bool fileExists(const std::string& path);
std::vector<std::string> listDir(const std::string& path);  // entry names, sorted
std::vector<std::string> lines(const std::string& text);    // without their line feeds
std::string join(const std::vector<std::string>& lines);    // each ending in a line feed
std::string examplePath(const std::string& name);           // a file of examples/

// A PNG decoded to RGB by the program's own reader (tk::readPngRgb), row 0 at
// the top; width 0 when the file is no readable PNG.
struct Rgb {
  int r, g, b;
};
struct Picture : tk::RgbPixels {
  bool inside(int col, int row) const { return col >= 0 && row >= 0 && col < width && row < height; }
  bool is(int col, int row, Rgb c, int tolerance = 0) const;  // false outside the picture
};
Picture decodePng(const std::string& path);

// How the built program is started: HOME (unset when nullopt), working directory
// (unchanged when empty), TMPDIR (inherited when nullopt), a limit on the size of the files it writes (writes past
// it fail with EFBIG; SIGXFSZ is left at its default, which ends the program
// unless it ignores the signal itself), as the user "nobody" (only when the tests
// run as root, who could write anywhere), and standard output into a file (empty:
// a pipe read by the test).
struct RunSetting {
  std::optional<std::string> home;
  std::string cwd;
  std::optional<std::string> tmpdir;
  std::optional<unsigned long> fileSizeLimit;
  bool unprivileged = false;
  std::string stdoutFile;
  std::vector<std::pair<std::string, std::string>> env;  // set besides HOME and TMPDIR
};
inline RunSetting inHome(const ScratchDir& dir) {  // HOME, working directory and TMPDIR
  RunSetting s;
  s.home = s.cwd = dir.path();
  s.tmpdir = dir.tmp();
  return s;
}
struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};
RunResult runGapohm(const std::vector<std::string>& args, const RunSetting& setting);

// The same, not waited for: its standard output (unless into a file) and error
// on pipes the caller owns, reads or closes; exitStatus reaps it.
struct Started {
  pid_t pid = -1;
  int out = -1, err = -1;
};
Started startGapohm(const std::vector<std::string>& args, const RunSetting& setting);
std::string drain(int fd);  // everything until end of stream; closes fd
int exitStatus(pid_t pid);  // waits: exit status, or 128 + signal

}  // namespace testsupport
