// gapohm: analysis of high-voltage scans of resistive-plate gas gaps.
//
// The program reads a scan file, fills one pressure-corrected graph of current
// density against HV per gap, draws all gaps together and, for argon scans (HV
// axis ending below the search's limit), searches every gap's ohmic region and
// reports its resistivity, resistance, resistance x area, offset and onset.
// This header is the program's entry; it includes its parts, each with its own
// header: the catalogue (Catalogue.h), one run (Run.h), the reports of a run
// (Reports.h, Results.h), the batch (Batch.h) and the campaign page (Report.h).
#pragma once

#include <ctime>
#include <ostream>

#include "aux/OutputPlaces.h"
#include "tools/Batch.h"
#include "tools/Catalogue.h"
#include "tools/Report.h"
#include "tools/Reports.h"
#include "tools/Results.h"
#include "tools/Run.h"

// The program: parses the command line and runs. Exit status 0 on success, 1 on a
// failed run or when `out` could not be written (said once on `err`), 2 on a
// usage error, 128 + signal for a batch stopped by SIGINT/SIGTERM. Options the
// chosen mode does not use are named in a warning and the run goes on; --quiet
// silences a single run's progress lines (tk::Console). Defined in
// tools/CommandLine.cpp. `env` and `now` stand for the environment and the
// clock, so that tests can fix them.
int gapohmMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
               const EnvLookup& env, std::time_t now);
