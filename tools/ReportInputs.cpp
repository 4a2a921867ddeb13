#include "tools/ReportInputs.h"

#include <algorithm>
#include <filesystem>

#include "aux/ScanInput.h"
#include "toolkit/SafeFile.h"

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
    std::string text;
    std::string why;
    const tk::FileRead read = tk::readRegularFile(file, kLargestResultsFile, false, text, why);
    if (read == tk::FileRead::link) {
      // Whatever it points at is not the run's table: never published.
      console.warning(escapeControls(file) + ": skipped: a symbolic link (the report reads no file through a link)");
      continue;
    }
    if (read != tk::FileRead::ok) {
      scan.error = file + ": cannot read: " + why;
    } else if (parseResultsCsv(text, file, scan.rows, scan.error)) {
      scan.figureColumn = hasColumn(text, "figure");
    }
    if (!scan.error.empty()) console.error(tk::Status::Corruption(scan.error), failures);
    scans.push_back(std::move(scan));
  }
  return scans;
}
