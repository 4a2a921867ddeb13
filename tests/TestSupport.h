// Helpers shared by the tests: scratch directories, files, running the program.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh, empty directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `content` to `path` (binary, replacing it).
void writeFile(const std::string& path, const std::string& content);
// The whole content of `path` ("" if it cannot be read).
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// Names of the entries of a directory, sorted.
std::vector<std::string> listDir(const std::string& path);

// Result of running the gapohm binary.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs the built gapohm with `args`, HOME set to `home` (unset when home is
// "<unset>"), in working directory `cwd` (unchanged when empty).
RunResult runGapohm(const std::vector<std::string>& args, const std::string& home,
                    const std::string& cwd = "");

// Path of a file under the source tree's examples/.
std::string examplePath(const std::string& name);

}  // namespace testsupport
