// libFuzzer target over a whole run: the bytes are a scan file, analysed by
// gapohmMain into a fresh temporary directory that is removed afterwards. A run
// may fail (status 1) but never crash, hang, leak, or write anything but regular
// files (and the thumbnails' folder), and only into its output directory.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "tests/fuzz/FuzzSupport.h"
#include "tools/gapohm.h"

namespace fs = std::filesystem;
using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string root = (fs::temp_directory_path() / "gapohm-fuzz-XXXXXX").string();
  require(mkdtemp(root.data()) != nullptr);
  const std::string scan = root + "/scan.csv", out = root + "/out";
  std::ofstream(scan, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  fuzzsupport::NullBuffer sink;
  std::ostream null(&sink);
  const EnvLookup env = [&root](const std::string& name) { return name == "HOME" ? std::optional(root) : std::nullopt; };
  // The length picks the figure format and, now and then, the verbose run.
  static const char* const kFormats[] = {"png", "svg", "pdf"};
  std::vector<const char*> argv = {"gapohm", "--output-dir", out.c_str(), "--entries", "--format", kFormats[size % 3], "-j", "1"};
  if (size % 7 == 0) argv.push_back("--verbose");
  argv.insert(argv.end(), {"--", scan.c_str(), "fuzz"});
  const int status = gapohmMain(static_cast<int>(argv.size()), argv.data(), null, null, env, 1380628800);
  require(status == 0 || status == 1);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root, ec)) require(entry.path() == scan || entry.path() == out);
  // Regular files only, the figures' thumbnails in their one folder.
  for (const auto& entry : fs::recursive_directory_iterator(out, ec)) {
    require(entry.is_regular_file() || (entry.is_directory() && entry.path() == out + "/thumbs"));
  }
  fs::remove_all(root, ec);
  return 0;
}
