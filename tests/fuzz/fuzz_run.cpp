// libFuzzer target over a whole run: the fuzzed bytes are a scan file, analysed by
// gapohmMain into a fresh temporary output directory that is removed afterwards.
// A run may fail (exit status 1) but must never crash, hang, leak, or leave
// anything but regular files in its output directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"
#include "tools/gapohm.h"

namespace fs = std::filesystem;

using fuzzsupport::NullBuffer;
using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string pattern = (fs::temp_directory_path() / "gapohm-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  const std::string root = pattern;
  const std::string scan = root + "/scan.csv";
  const std::string outputDir = root + "/out";
  {
    std::ofstream f(scan, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  NullBuffer sink;
  std::ostream null(&sink);
  const EnvLookup env = [&root](const std::string& name) -> std::optional<std::string> {
    if (name == "HOME") return root;
    return std::nullopt;
  };
  // The input's length picks the figure format (all three painters get their
  // share; the vector ones are quicker) and, now and then, the verbose run with
  // its diagnostic figures.
  static const char* const kFormats[] = {"png", "svg", "pdf"};
  const char* format = kFormats[size % 3];
  std::vector<const char*> argv = {"gapohm", "--output-dir", outputDir.c_str(), "--entries",
                                   "--format", format};
  if (size % 7 == 0) argv.push_back("--verbose");
  argv.push_back("--");
  argv.push_back(scan.c_str());
  argv.push_back("fuzz");
  const int status =
      gapohmMain(static_cast<int>(argv.size()), argv.data(), null, null, env, 1380628800);
  require(status == 0 || status == 1);

  // Everything the run wrote is a regular file directly in its output directory,
  // and nothing else appeared beside the scan.
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root, ec)) {
    const std::string name = entry.path().filename().string();
    require(name == "scan.csv" || name == "out");
  }
  if (fs::exists(outputDir)) {
    for (const auto& entry : fs::directory_iterator(outputDir, ec)) {
      require(entry.is_regular_file());
    }
  }
  fs::remove_all(root, ec);
  return 0;
}
