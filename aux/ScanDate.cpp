#include "aux/ScanDate.h"

#include <cctype>
#include <cstdio>

namespace {

// Years a scan of a gas gap can have been taken in: a longer number that happens
// to hold eight digits is not read as a date.
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2099;

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

bool realDate(int y, int m, int d) {
  return y >= kFirstYear && y <= kLastYear && m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

// The number of the `n` digits at text[at]; -1 when one is no digit.
int digitsAt(const std::string& text, std::size_t at, std::size_t n) {
  if (at + n > text.size()) return -1;
  int v = 0;
  for (std::size_t k = at; k < at + n; ++k) {
    if (std::isdigit(static_cast<unsigned char>(text[k])) == 0) return -1;
    v = v * 10 + (text[k] - '0');
  }
  return v;
}

std::string isoText(int y, int m, int d) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", y, m, d);
  return buffer;
}

bool digitAt(const std::string& text, std::size_t at) {
  return at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0;
}

// The date of a digit run text[at, end) that starts a run: YYYYMMDD, or that
// followed by hhmm or hhmmss.
std::optional<std::string> compactDate(const std::string& text, std::size_t at, std::size_t end) {
  const std::size_t n = end - at;
  if (n != 8 && n != 12 && n != 14) return std::nullopt;
  const int y = digitsAt(text, at, 4), m = digitsAt(text, at + 4, 2), d = digitsAt(text, at + 6, 2);
  if (!realDate(y, m, d)) return std::nullopt;
  if (n >= 12 && (digitsAt(text, at + 8, 2) > 23 || digitsAt(text, at + 10, 2) > 59)) return std::nullopt;
  if (n == 14 && digitsAt(text, at + 12, 2) > 59) return std::nullopt;
  return isoText(y, m, d);
}

// YYYY-MM-DD or YYYY_MM_DD at text[at], not followed by a digit.
std::optional<std::string> separatedDate(const std::string& text, std::size_t at) {
  if (at + 10 > text.size() || digitAt(text, at + 10)) return std::nullopt;
  const char separator = text[at + 4];
  if ((separator != '-' && separator != '_') || text[at + 7] != separator) return std::nullopt;
  const int y = digitsAt(text, at, 4), m = digitsAt(text, at + 5, 2), d = digitsAt(text, at + 8, 2);
  if (!realDate(y, m, d)) return std::nullopt;
  return isoText(y, m, d);
}

}  // namespace

const char* scanDateSourceWord(ScanDateSource source) {
  switch (source) {
    case ScanDateSource::fileName: return "file name";
    case ScanDateSource::option: return "option";
    case ScanDateSource::modificationTime: return "modification time";
  }
  return "";
}

std::optional<std::string> isoDate(const std::string& text) {
  if (text.size() != 10) return std::nullopt;
  const std::optional<std::string> date = separatedDate(text, 0);
  return date && text[4] == '-' ? date : std::nullopt;
}

std::optional<std::string> dateInFileName(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  for (std::size_t at = 0; at < name.size(); ++at) {
    if (!digitAt(name, at) || (at > 0 && digitAt(name, at - 1))) continue;  // the start of a run only
    std::size_t end = at;
    while (digitAt(name, end)) ++end;
    if (end - at == 4) {
      if (std::optional<std::string> date = separatedDate(name, at)) return date;
    }
    if (std::optional<std::string> date = compactDate(name, at, end)) return date;
  }
  return std::nullopt;
}

std::string utcDate(std::time_t when) {
  std::tm parts{};
  if (::gmtime_r(&when, &parts) == nullptr) return "";
  return isoText(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
}

std::optional<ScanDate> scanDateOf(const std::string& path, const std::optional<std::string>& given,
                                   std::optional<std::time_t> modified) {
  if (std::optional<std::string> date = dateInFileName(path)) return ScanDate{*date, ScanDateSource::fileName};
  if (given) return ScanDate{*given, ScanDateSource::option};
  if (modified) return ScanDate{utcDate(*modified), ScanDateSource::modificationTime};
  return std::nullopt;
}

std::optional<long> daysSinceEpoch(const std::string& iso) {
  if (!isoDate(iso)) return std::nullopt;
  std::tm parts{};
  parts.tm_year = digitsAt(iso, 0, 4) - 1900;
  parts.tm_mon = digitsAt(iso, 5, 2) - 1;
  parts.tm_mday = digitsAt(iso, 8, 2);
  return static_cast<long>(::timegm(&parts) / 86400);
}
