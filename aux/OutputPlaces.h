// Where every report and figure of a run is written, and small path utilities.
//
// A run's outputs go to one directory, normally
//   $HOME/Dropbox/KVT/HVScan/<YYYYMMDD>_KVTHVscan/<scan name without .csv>/
// (the "ulmena" home keeps its historical subtree, scans whose path contains
// "CAEN904" the "_904HVscan" suffix), or to the directory given on the command
// line. The date is read once, when the run starts, so a run that passes
// midnight keeps one directory.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "toolkit/Console.h"

// Looks up an environment variable: nullopt when it is not set.
using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;

// The process environment, read at each call.
EnvLookup processEnvironment();

// The local calendar date of `when` as "%Y%m%d".
std::string localDate(std::time_t when);

// What decides a run's output directory; fixed for the whole run.
struct OutputPlace {
  EnvLookup env;                         // where HOME is looked up
  std::string date;                      // "%Y%m%d", read at the start of the run
  std::optional<std::string> outputDir;  // --output-dir: used instead of the dated layout
};

// Writes the HOME log line to `log` and stores the variable `option` (empty when
// unset) in PATH. Returns 0 when the variable is set (even to ""), 1 when not.
int GetEnviroment(std::string& PATH, const std::string& option, const EnvLookup& env,
                  std::ostream& log);

// The output directory of the scan `file`, ending in "/", created with every
// missing level. A directory that cannot be created is said as an error in
// `log`; the path is returned all the same.
std::string getPathToSave(const std::string& file, const OutputPlace& place, tk::Log& log);
// The same, printed through `console` at once, errors added to `failures`.
std::string getPathToSave(const std::string& file, const OutputPlace& place,
                          tk::Console& console, tk::Failures& failures);

// The output directory getPathToSave names ("/" at its end), without creating
// anything or logging.
std::string outputDirectory(const std::string& file, const OutputPlace& place);

// The dated directory alone, without creating anything or logging. The scan's
// name is its file name with every ".csv" removed; a name that is then empty,
// "." or ".." becomes "_", so that the directory is always one level of its own.
std::string dirForScan(const std::string& file, const std::string& home, const std::string& date);

// The base name of the combined figure: "ALLcurrents".
std::string getName();

// Text after the last "/" (the whole path when it has none).
std::string ExtractFilename(const std::string& path);
// Text up to and including the last "/" (empty when it has none).
std::string ExtractDirectory(const std::string& path);
// The path with its file name's last extension replaced by ext (ext has its dot).
std::string ChangeExtension(const std::string& path, const std::string& ext);

// Creates `path` and every missing parent. False, with the reason in `error`, when
// a level cannot be created or exists as something other than a directory.
bool makeDirectories(const std::string& path, std::string& error);

// A gap name made safe as a file name inside the output directory: "/" and other
// characters unsafe in a file name become "_", and "", "." and ".." become "_".
// A name longer than 200 bytes keeps its first 180 (whole UTF-8 characters) and
// ends in "~" and 16 hex digits of a hash of the whole name.
std::string safeFileName(const std::string& name);

// The widest thumbnail of a gap figure, in pixels (the campaign page shows them
// smaller, sharp on screens of more than one pixel a point).
constexpr int kThumbnailWidth = 240;

// Where a gap figure `figureBase` + `extension` leaves its thumbnail, relative to
// the output directory: "thumbs/<figureBase>.png" for a PNG figure (a folder of
// its own, so that no figure name can be a thumbnail's), "" for other formats,
// which have none.
std::string thumbnailName(const std::string& figureBase, const std::string& extension);

// Writes `content` to `path` through a hidden temporary file in the same
// directory (tk::createTempFile: unique, never through a link), flushed to the
// device and renamed into place, so readers never see a half-written file and a
// link at `path` is replaced, not followed. False, with "cannot write <path>:
// <reason>" in `error` and no temporary file left, when it cannot.
// `durable` false skips the flush to the device, for files that do not outlive
// the process that reads them (a batch's outcome files in its private
// directory): the flush waits for the disk, several milliseconds a file.
bool writeFileAtomically(const std::string& path, const std::string& content, std::string& error,
                         bool durable = true);
