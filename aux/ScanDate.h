// The date a scan was taken, for the campaign's history of each gap: results.csv
// keeps it as scan_date (ISO 8601, YYYY-MM-DD) with scan_date_source, the words
// telling where it came from. A date in the scan's file name wins (data
// acquisition names its files by date), else the date the user gives
// (--scan-date), else the day, in UTC, the file was last modified.
#pragma once

#include <ctime>
#include <optional>
#include <string>

enum class ScanDateSource { fileName, option, modificationTime };

// The source's words in results.csv: "file name", "option", "modification time".
const char* scanDateSourceWord(ScanDateSource source);

struct ScanDate {
  std::string date;  // YYYY-MM-DD
  ScanDateSource source = ScanDateSource::fileName;
};

// `text` when it is a real calendar date written YYYY-MM-DD (year 1970 to 2099);
// nullopt otherwise (2023-02-30, 2023-2-3, 20230203, trailing text).
std::optional<std::string> isoDate(const std::string& text);

// The first date in the file name of `path` (its directories are not looked at):
// YYYY-MM-DD, YYYY_MM_DD or YYYYMMDD, a real calendar date (year 1970 to 2099)
// whose digits are not part of a longer number, except that YYYYMMDD may be
// followed by the time as hhmm or hhmmss (a run of 12 or 14 digits). As ISO
// text; nullopt when the name holds none.
std::optional<std::string> dateInFileName(const std::string& path);

// The UTC calendar date of `when` as YYYY-MM-DD.
std::string utcDate(std::time_t when);

// The scan's date: the file name's, else `given` (an isoDate), else the
// modification day `modified`; nullopt when none is known.
std::optional<ScanDate> scanDateOf(const std::string& path, const std::optional<std::string>& given,
                                   std::optional<std::time_t> modified);

// Days from 1970-01-01 to an ISO date (isoDate's form); nullopt for other text.
// For fits against time across a campaign.
std::optional<long> daysSinceEpoch(const std::string& iso);
