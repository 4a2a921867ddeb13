#include "tests/TestSupport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace testsupport {

bool Picture::is(int col, int row, Rgb c, int tolerance) const {
  if (!inside(col, row)) return false;
  const unsigned char* p = &rgb[3 * (static_cast<std::size_t>(row) * width + col)];
  return std::abs(p[0] - c.r) <= tolerance && std::abs(p[1] - c.g) <= tolerance && std::abs(p[2] - c.b) <= tolerance;
}

Picture decodePng(const std::string& path) {
  // Every figure the tests look at is far below the limit; a larger one is a fault.
  Picture out;
  std::string reason;
  if (tk::readPngRgb(path, 20000000UL, out, reason) != tk::PngReadStatus::Ok) return {};
  return out;
}

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "gapohm-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  // mkdtemp's names have no ".": no other scratch directory is called so.
  if (mkdir(tmp().c_str(), 0700) != 0) throw std::runtime_error("mkdir failed");
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
  const std::vector<std::string> left = listDir(tmp());
  for (const std::string& name : left) ADD_FAILURE() << "left in its TMPDIR: " << tmp() << "/" << name;
  fs::remove_all(tmp(), ec);
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string readFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(path, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

std::string examplePath(const std::string& name) {
  return std::string(GAPOHM_SOURCE_DIR) + "/examples/" + name;
}

Started startGapohm(const std::vector<std::string>& args, const RunSetting& setting) {
  // Pipes, not files, take the output: a file-size limit must not cut it.
  int pipes[2][2];
  if (pipe(pipes[0]) != 0 || pipe(pipes[1]) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = setting.stdoutFile.empty() ? pipes[0][1] : open(setting.stdoutFile.c_str(), O_WRONLY);
    if (out < 0) _exit(127);
    dup2(out, 1);
    dup2(pipes[1][1], 2);
    for (auto& p : pipes) close(p[0]), close(p[1]);
    if (!setting.cwd.empty() && chdir(setting.cwd.c_str()) != 0) _exit(127);
    if (setting.home ? setenv("HOME", setting.home->c_str(), 1) : unsetenv("HOME")) _exit(127);
    if (setting.tmpdir && setenv("TMPDIR", setting.tmpdir->c_str(), 1) != 0) _exit(127);
    for (const auto& [name, value] : setting.env) {
      if (setenv(name.c_str(), value.c_str(), 1) != 0) _exit(127);
    }
    if (setting.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    if (setting.fileSizeLimit) {
      std::signal(SIGXFSZ, SIG_DFL);
      const rlimit limit{*setting.fileSizeLimit, *setting.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    std::vector<char*> argv = {const_cast<char*>(GAPOHM_BINARY)};  // execv changes none of them
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(GAPOHM_BINARY, argv.data());
    _exit(127);
  }
  close(pipes[0][1]);
  close(pipes[1][1]);
  return {pid, pipes[0][0], pipes[1][0]};
}

std::string drain(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

int exitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RunResult runGapohm(const std::vector<std::string>& args, const RunSetting& setting) {
  const Started run = startGapohm(args, setting);
  RunResult r;
  std::thread errors([&] { r.err = drain(run.err); });  // both at once: neither pipe may fill up
  r.out = drain(run.out);
  errors.join();
  r.status = exitStatus(run.pid);
  return r;
}

}  // namespace testsupport
