#include "tools/ReportInputs.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Whether the header of a valid CSV text has the column. The header is read
// alone unless a quoted name spans lines.
bool hasColumn(const std::string& text, const std::string& column) {
  std::vector<CsvRecord> records;
  std::string error;
  if (!readCsvRecords(text.substr(0, text.find('\n')), "", records, error)) {
    records.clear();
    readCsvRecords(text, "", records, error);
  }
  if (records.empty()) return false;
  const std::vector<std::string>& names = records.front().fields;
  return std::find(names.begin(), names.end(), column) != names.end();
}

}  // namespace

bool readFinite(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  // An underflow (ERANGE with a tiny or zero result) is still the number written;
  // an overflow reads as infinity.
  return end == text.c_str() + text.size() && std::isfinite(value);
}

std::vector<std::string> findResultsFiles(const std::vector<std::string>& paths, tk::Console& console,
                                          tk::Failures& failures) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      console.error(tk::Status::IOError(path + ": " + (ec ? ec.message() : "no such file or directory")), failures);
      continue;
    }
    if (!fs::is_directory(status)) {
      files.push_back(path);
      continue;
    }
    std::vector<std::string> inside;
    fs::recursive_directory_iterator it(path, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code typeError;
      if (it->path().filename() == "results.csv" && it->is_regular_file(typeError)) {
        inside.push_back(it->path().string());
      }
    }
    if (ec) console.error(tk::Status::IOError(path + ": cannot list it whole: " + ec.message()), failures);
    std::sort(inside.begin(), inside.end());
    files.insert(files.end(), inside.begin(), inside.end());
  }
  return files;
}

std::vector<ScanTable> readScanTables(const std::vector<std::string>& files, tk::Console& console,
                                      tk::Failures& failures) {
  std::vector<ScanTable> scans;
  for (const std::string& file : files) {
    ScanTable scan;
    scan.file = file;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in || in.bad()) {
      scan.error = file + ": cannot read: " + std::strerror(errno);
    } else {
      if (parseResultsCsv(text.str(), file, scan.rows, scan.error)) scan.figureColumn = hasColumn(text.str(), "figure");
    }
    if (!scan.error.empty()) console.error(tk::Status::Corruption(scan.error), failures);
    scans.push_back(std::move(scan));
  }
  return scans;
}
