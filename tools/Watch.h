// gapohm --watch: follows a scan file while the slow-control system appends to
// it. Each pass reads only the bytes appended since the last one (a line counts
// once its line feed has come), raises alarms on the new points at once, and at
// most every `interval` seconds runs the plain run on the lines read so far
// (runScanText: the same analysis, outputs and atomic writes), then rewrites
// live.html. It waits on inotify (and looks every interval all the same: a
// file written from another machine over a network file system tells inotify
// nothing), polling where inotify is not available.
#pragma once

#include <string>

#include "aux/OutputPlaces.h"
#include "toolkit/Console.h"
#include "tools/Run.h"
#include "tools/WatchRules.h"

struct WatchSettings {
  double interval = 2.0;  // s, at most one analysis per interval
  double idle = 600.0;    // s without growth that end the watch
  AlarmRules alarms;
  bool terminal = false;  // standard output is a terminal: the table is redrawn in place
};

// The watch of `file`. Ends
// - when the file has not grown for settings.idle: a plain run on the whole file
//   as it is then (its lines, its outputs, its status), and a line saying so;
// - on SIGINT or SIGTERM: the outputs are those of the last update, whole;
//   status 128 + the signal;
// - when the file is truncated, replaced or removed, or cannot be read: said,
//   status 1.
// Files an update wrote that a later update does not write (the HV limit of the
// window search passed mid-scan, a figure renamed) are removed, unless they were
// in the directory before the watch: the directory holds what a plain run on
// the lines read so far leaves there, with live.html and alarms.csv.
int watchScan(const std::string& file, const std::string& legendTitle, const RunOptions& options,
              const OutputPlace& place, const WatchSettings& settings, tk::Console& console);
