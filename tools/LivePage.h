// What the watch mode shows while a scan is being recorded: live.html, a page
// that reloads itself (no script, nothing fetched, every link relative), the
// compact table redrawn on a terminal and the one line an update writes
// elsewhere, and alarms.csv. All are texts made from values; Watch.cpp writes them.
#pragma once

#include <string>
#include <vector>

#include "tools/RunOutcome.h"
#include "tools/WatchRules.h"

// A gap as the watch shows it.
struct LiveGap {
  std::string name;
  std::size_t points = 0;
  double lastHv = 0.0, lastCurrent = 0.0;  // of its last point (pressure-corrected HV)
  bool kneeFitted = false;
  double onset = 0.0, resistivity = 0.0;  // the knee fit's, when fitted
  std::string notYet;                     // why the knee fit has no result yet
  std::string flags;                      // the results table's flag words, ";"-joined
  std::string figure;                     // its figure's file name ("" when it has none)
  std::vector<std::string> alarms;        // kinds raised on it, in order, each once
};

// The gaps of an update's outcome with the alarms raised so far (a gap named by
// an alarm and not in the outcome yet is left out: the next update has it).
std::vector<LiveGap> liveGaps(const RunOutcome& run, const std::string& extension, const std::vector<Alarm>& alarms);
// Adds to each gap's alarm kinds those of `alarms` that name it (each kind once).
void markAlarms(std::vector<LiveGap>& gaps, const std::vector<Alarm>& alarms);

struct LiveState {
  std::string scan;             // the watched file as named
  std::string combinedFigure;   // file name in the output directory ("" before the first update)
  std::vector<LiveGap> gaps;
  std::vector<Alarm> alarms;    // in the order raised
  std::vector<std::string> alarmTimes;  // local time each was raised
  long lines = 0;               // complete lines read
  std::string lastLine;         // local time the last line arrived ("" none yet)
  std::string lastUpdate;       // local time of the last update ("" none yet)
  bool ended = false;
  std::string state;            // "scan still running", or how the watch ended
  std::string problem;          // what the last update could not do ("" nothing)
  int refreshSeconds = 2;
};

// The page. Names are escaped; the combined figure is shown as an image when
// its format is PNG or SVG, else linked.
std::string livePageText(const LiveState& s);

// The compact table for a terminal: a header and one line a gap, names
// cut to fit and control bytes escaped; ends in a line feed.
std::string terminalTable(const LiveState& s);

// The one line of an update where standard output is no terminal (no line feed).
std::string updateLine(const LiveState& s);

// alarms.csv: a header and one record an alarm (time,gap,hv_v,current_na_cm2,kind,threshold).
std::string alarmsCsvText(const std::vector<Alarm>& alarms, const std::vector<std::string>& times);

// The one standard-error line of an alarm (no line feed): gap, HV, value, rule.
std::string alarmLine(const Alarm& a);
