#include "tools/Report.h"

#include <isa-l/igzip_lib.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "aux/OutputPlaces.h"
#include "toolkit/Canvas.h"
#include "toolkit/Png.h"

namespace {

namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A whole text as a finite number.
bool readFinite(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  // An underflow (ERANGE with a tiny or zero result) is still the number written;
  // an overflow reads as infinity.
  return end == text.c_str() + text.size() && std::isfinite(value);
}

std::string shortNumber(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", v);
  return buffer;
}

// A bound of a limits line: empty (no bound) or a finite number.
bool readBound(const std::string& text, std::optional<double>& bound) {
  bound.reset();
  if (text.empty()) return true;
  double v = 0.0;
  if (!readFinite(text, v)) return false;
  bound = v;
  return true;
}

// One line of a limits file as a Limit; the reason in `what` when it is none.
bool limitOf(const CsvRecord& record, Limit& limit, std::string& what) {
  if (record.fields.size() != 4) {
    what = std::to_string(record.fields.size()) + " fields, needs 4 (gap,quantity,min,max)";
    return false;
  }
  limit = Limit{record.fields[0], record.fields[1], std::nullopt, std::nullopt, record.line};
  if (limit.gap.empty()) {
    what = "no gap (an exact gap name, bottom, top-narrow, top-wide or *)";
    return false;
  }
  if (!isNumericResultsColumn(limit.quantity)) {
    what = "quantity \"" + limit.quantity + "\" is not a numeric column of results.csv";
    return false;
  }
  for (int k = 2; k <= 3; ++k) {
    if (!readBound(record.fields[static_cast<std::size_t>(k)], k == 2 ? limit.min : limit.max)) {
      what = std::string(k == 2 ? "min" : "max") + " \"" + record.fields[static_cast<std::size_t>(k)] +
             "\" is not a number";
      return false;
    }
  }
  if (!limit.min && !limit.max) {
    what = "neither min nor max: the line limits nothing";
    return false;
  }
  if (limit.min && limit.max && *limit.min > *limit.max) {
    what = "min " + record.fields[2] + " is above max " + record.fields[3];
    return false;
  }
  return true;
}

// The limit that holds for the gap's quantity: exact name, else type, else "*".
const Limit* limitFor(const std::string& gap, const std::string& quantity, const Limits& limits) {
  const Limit* byType = nullptr;
  const Limit* byAll = nullptr;
  const std::string type = gapType(gap);
  for (const Limit& limit : limits.rows) {
    if (limit.quantity != quantity) continue;
    if (limit.gap == gap) return &limit;
    if (!type.empty() && limit.gap == type) byType = &limit;
    if (limit.gap == "*") byAll = &limit;
  }
  return byType != nullptr ? byType : byAll;
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (std::size_t k = 0; k < parts.size(); ++k) text += (k > 0 ? separator : "") + parts[k];
  return text;
}

}  // namespace

bool parseLimits(const std::string& text, const std::string& file, Limits& limits, std::string& error) {
  std::vector<CsvRecord> records;
  if (!readCsvRecords(text, file, records, error)) return false;
  if (records.empty() || records.front().fields != std::vector<std::string>{"gap", "quantity", "min", "max"}) {
    error = file + ":" + std::to_string(records.empty() ? 1 : records.front().line) +
            ": the header must be \"gap,quantity,min,max\"";
    return false;
  }
  Limits read{file, {}};
  std::map<std::pair<std::string, std::string>, long> seen;
  for (std::size_t k = 1; k < records.size(); ++k) {
    Limit limit;
    std::string what;
    if (!limitOf(records[k], limit, what)) {
      error = file + ":" + std::to_string(records[k].line) + ": " + what;
      return false;
    }
    const auto [earlier, first] = seen.emplace(std::make_pair(limit.gap, limit.quantity), limit.line);
    if (!first) {
      error = file + ":" + std::to_string(limit.line) + ": " + limit.quantity + " of " + limit.gap +
              " is already limited at line " + std::to_string(earlier->second);
      return false;
    }
    read.rows.push_back(std::move(limit));
  }
  limits = std::move(read);
  return true;
}

std::string gapType(const std::string& gap) {
  std::string type;
  if (contains(gap, "-B") || contains(gap, "-BOTTOM")) type = "bottom";
  if (contains(gap, "TOPNARROW")) type = "top-narrow";
  if (contains(gap, "TOPWIDE")) type = "top-wide";
  return type;
}

std::string chamberOf(const std::string& gap) {
  const std::size_t dash = gap.rfind('-');
  if (gapType(gap).empty() || dash == std::string::npos || dash == 0) return gap;
  return gap.substr(0, dash);
}

Verdict judgeGap(const ResultsRow& row, const Limits& limits) {
  const std::string& gap = row.get("gap");
  std::vector<std::string> quantities;
  for (const Limit& limit : limits.rows) {
    if (std::find(quantities.begin(), quantities.end(), limit.quantity) == quantities.end()) {
      quantities.push_back(limit.quantity);
    }
  }
  std::vector<std::string> broken;
  std::vector<std::string> missing;
  bool anyLimit = false;
  for (const std::string& quantity : quantities) {
    const Limit* limit = limitFor(gap, quantity, limits);
    if (limit == nullptr) continue;
    anyLimit = true;
    double v = 0.0;
    if (!readFinite(row.get(quantity), v)) {
      missing.push_back(quantity);
      continue;
    }
    if (limit->min && v < *limit->min) broken.push_back(quantity + " " + shortNumber(v) + " < min " + shortNumber(*limit->min));
    if (limit->max && v > *limit->max) broken.push_back(quantity + " " + shortNumber(v) + " > max " + shortNumber(*limit->max));
  }
  if (!broken.empty()) return {Verdict::Kind::Fail, "FAIL: " + joined(broken, "; ")};
  if (!anyLimit) return {Verdict::Kind::NoResult, "NO RESULT: no limit applies to this gap"};
  if (!missing.empty()) return {Verdict::Kind::NoResult, "NO RESULT: no value of " + joined(missing, ", ")};
  return {Verdict::Kind::Pass, "PASS"};
}

std::string htmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string urlPath(const std::string& path) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xf];
    }
  }
  return out;
}

namespace {

// Larger figures are not thumbnailed: 100 million pixels is fifty times the
// program's own figures, and their decoding would hold gigabytes.
constexpr unsigned long kLargestFigurePixels = 100000000UL;

std::uint32_t bigEndian32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Undoes the PNG row filters of `raw` (rows of 1 + stride bytes, `bpp` bytes a
// pixel) and writes the pixels as RGB, alpha laid on white. False for a filter
// type PNG does not have.
bool unfilterToRgb(std::vector<unsigned char>& raw, std::size_t stride, std::size_t bpp, int height,
                   std::vector<unsigned char>& rgb) {
  rgb.resize(stride / bpp * 3 * static_cast<std::size_t>(height));
  const unsigned char* previous = nullptr;
  unsigned char* out = rgb.data();
  for (int y = 0; y < height; ++y) {
    unsigned char* row = raw.data() + static_cast<std::size_t>(y) * (stride + 1);
    const unsigned char filter = row[0];
    if (filter > 4) return false;
    ++row;
    // Filter 0 (none, as the program writes its figures) leaves the row as it is.
    for (std::size_t i = 0; filter != 0 && i < stride; ++i) {
      const int left = i >= bpp ? row[i - bpp] : 0;
      const int up = previous != nullptr ? previous[i] : 0;
      const int corner = previous != nullptr && i >= bpp ? previous[i - bpp] : 0;
      int add = 0;
      if (filter == 1) add = left;
      if (filter == 2) add = up;
      if (filter == 3) add = (left + up) / 2;
      if (filter == 4) {
        const int pa = std::abs(up - corner), pb = std::abs(left - corner), pc = std::abs(left + up - 2 * corner);
        add = pa <= pb && pa <= pc ? left : pb <= pc ? up : corner;
      }
      row[i] = static_cast<unsigned char>(row[i] + add);
    }
    if (bpp == 3) {
      std::memcpy(out, row, stride);
      out += stride;
    }
    for (std::size_t i = 0; bpp == 4 && i < stride; i += bpp) {
      const int alpha = row[i + 3];
      for (std::size_t k = 0; k < 3; ++k) *out++ = static_cast<unsigned char>((row[i + k] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
    previous = row;
  }
  return true;
}

// The program's own figures (8-bit RGB or RGBA, not interlaced) are inflated with
// ISA-L, several times faster than libpng's zlib on them. Returns 1 when done, 0
// when the file is of another kind (for libpng), -1 on a damaged file.
int readRgbFast(const std::string& bytes, std::vector<unsigned char>& rgb, int& width, int& height) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < 33 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0) return 0;
  const unsigned char* ihdr = data + 16;
  const std::uint32_t w = bigEndian32(ihdr);
  const std::uint32_t h = bigEndian32(ihdr + 4);
  if (ihdr[8] != 8 || (ihdr[9] != 2 && ihdr[9] != 6) || ihdr[12] != 0 || w == 0 || h == 0) return 0;
  if (static_cast<unsigned long>(w) * h > kLargestFigurePixels) return 0;  // libpng refuses it with a reason
  std::string compressed;
  for (std::size_t at = 8; at + 12 <= bytes.size();) {
    const std::size_t length = bigEndian32(data + at);
    if (length > bytes.size() - at - 12) return -1;
    if (bytes.compare(at + 4, 4, "IDAT") == 0) compressed.append(bytes, at + 8, length);
    if (bytes.compare(at + 4, 4, "IEND") == 0) break;
    at += 12 + length;
  }
  const std::size_t bpp = ihdr[9] == 6 ? 4 : 3;
  const std::size_t stride = w * bpp;
  std::vector<unsigned char> raw((stride + 1) * h);
  inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_ZLIB;
  state.next_in = reinterpret_cast<std::uint8_t*>(compressed.data());
  state.avail_in = static_cast<std::uint32_t>(compressed.size());
  state.next_out = raw.data();
  state.avail_out = static_cast<std::uint32_t>(raw.size());
  if (isal_inflate(&state) != ISAL_DECOMP_OK || state.block_state != ISAL_BLOCK_FINISH || state.avail_out != 0) return -1;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return unfilterToRgb(raw, stride, bpp, height, rgb) ? 1 : -1;
}

// The figure's pixels as 8-bit RGB rows (alpha laid on white).
bool readRgb(const std::string& figure, std::vector<unsigned char>& rgb, int& width, int& height,
             std::string& error) {
  std::ifstream in(figure, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const int fast = in ? readRgbFast(bytes.str(), rgb, width, height) : 0;
  if (fast == 1) return true;
  if (fast < 0) {
    error = figure + ": damaged PNG file";
    return false;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, figure.c_str()) == 0) {
    error = figure + ": " + image.message;
    return false;
  }
  if (static_cast<unsigned long>(image.width) * image.height > kLargestFigurePixels) {
    png_image_free(&image);
    error = figure + ": " + std::to_string(image.width) + "x" + std::to_string(image.height) +
            " pixels, too large for a thumbnail";
    return false;
  }
  image.format = PNG_FORMAT_RGB;
  rgb.assign(PNG_IMAGE_SIZE(image), 0);
  png_color white{255, 255, 255};
  if (png_image_finish_read(&image, &white, rgb.data(), 0, nullptr) == 0) {
    error = figure + ": " + image.message;
    png_image_free(&image);
    return false;
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return true;
}

// Every output pixel the mean of the factor x factor box of input pixels it covers
// (boxes at the right and bottom edges may be smaller).
void boxFilter(const std::vector<unsigned char>& rgb, int width, int height, int factor, tk::Image& out) {
  for (int oy = 0; oy < out.height(); ++oy) {
    auto* row = reinterpret_cast<std::uint32_t*>(out.data() + static_cast<std::size_t>(oy) * out.stride());
    for (int ox = 0; ox < out.width(); ++ox) {
      unsigned long sum[3] = {0, 0, 0};
      unsigned long count = 0;
      for (int y = oy * factor; y < std::min(height, (oy + 1) * factor); ++y) {
        const unsigned char* p = rgb.data() + (static_cast<std::size_t>(y) * width + static_cast<std::size_t>(ox) * factor) * 3;
        for (int x = ox * factor; x < std::min(width, (ox + 1) * factor); ++x, p += 3) {
          sum[0] += p[0];
          sum[1] += p[1];
          sum[2] += p[2];
          ++count;
        }
      }
      std::uint32_t word = 0;
      for (int c = 0; c < 3; ++c) word = word << 8 | static_cast<std::uint32_t>((sum[c] + count / 2) / count);
      row[ox] = word;
    }
  }
}

}  // namespace

bool writeThumbnail(const std::string& figure, const std::string& thumb, int maxWidth, std::string& error) {
  std::vector<unsigned char> rgb;
  int width = 0;
  int height = 0;
  if (!readRgb(figure, rgb, width, height, error)) return false;
  const int factor = std::max(1, (width + maxWidth - 1) / std::max(1, maxWidth));
  tk::Image small((width + factor - 1) / factor, (height + factor - 1) / factor);
  if (small.data() == nullptr) {
    error = figure + ": no memory for its thumbnail";
    return false;
  }
  boxFilter(rgb, width, height, factor, small);
  // A fresh file of our own (never one a link points at), renamed into place.
  std::string temporary = ExtractDirectory(thumb) + ".thumb-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot write " + thumb + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  std::string reason;
  if (!tk::writePng(temporary, small, tk::Canvas::kPngLevel, reason) ||
      std::rename(temporary.c_str(), thumb.c_str()) != 0) {
    error = "cannot write " + thumb + ": " + (reason.empty() ? std::strerror(errno) : reason);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::vector<std::string> findResultsFiles(const std::vector<std::string>& paths, tk::Console& console) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      console.error(path + ": " + (ec ? ec.message() : "no such file or directory"));
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
    if (ec) console.error(path + ": cannot list it whole: " + ec.message());
    std::sort(inside.begin(), inside.end());
    files.insert(files.end(), inside.begin(), inside.end());
  }
  return files;
}

namespace {

// One results.csv and what it holds, or why it could not be read.
struct ScanTable {
  std::string file;
  std::vector<ResultsRow> rows;
  std::string error;
};

// One method's values of a quantity, drawn as one series.
struct Series {
  const char* label;
  const char* status;
  const char* value;
  const char* error;
  int color;
  int marker;
  double shift;  // from the gap's category position
};

// The gaps of every scan as categories: by chamber, then by name.
std::map<std::string, int> gapCategories(const std::vector<ScanTable>& scans,
                                         std::vector<std::pair<double, std::string>>& labels,
                                         std::vector<double>& chamberEnds) {
  std::set<std::pair<std::string, std::string>> ordered;
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) ordered.emplace(chamberOf(row.get("gap")), row.get("gap"));
  }
  std::map<std::string, int> index;
  std::string chamber;
  for (const auto& [ofChamber, gap] : ordered) {
    const int k = static_cast<int>(index.size());
    if (k > 0 && ofChamber != chamber) chamberEnds.push_back(k - 0.5);
    chamber = ofChamber;
    index.emplace(gap, k);
    labels.emplace_back(k, gap);
  }
  return index;
}

// Fills the series' graph; with `logScale`, log10 of the values (errors
// propagated), values that are not positive left out and counted in `omitted`.
void fillSeries(const std::vector<ScanTable>& scans, const std::map<std::string, int>& category,
                const Series& series, bool logScale, tk::Graph& graph, long& omitted) {
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) {
      double v = 0.0;
      double e = 0.0;
      if (row.get(series.status) != "fitted" || !readFinite(row.get(series.value), v)) continue;
      if (!readFinite(row.get(series.error), e)) e = 0.0;
      if (logScale && !(v > 0.0)) {
        ++omitted;
        continue;
      }
      const double x = category.at(row.get("gap")) + series.shift;
      graph.AddPoint(x, logScale ? std::log10(v) : v);
      graph.errorY.push_back(logScale ? e / (v * std::log(10.0)) : e);
    }
  }
  graph.markerColor = series.color;
  graph.markerStyle = series.marker;
  graph.markerSize = 1.5;
}

// An invisible graph that sets the frame over [x0, x1] x [y0, y1] with titles.
tk::Graph frameGraph(double x0, double x1, double y0, double y1, const std::string& xTitle,
                     const std::string& yTitle) {
  tk::Graph frame;
  frame.AddPoint(x0, y0);
  frame.AddPoint(x1, y1);
  frame.markerStyle = 20;
  frame.markerSize = 0.0;
  frame.xTitle = xTitle;
  frame.yTitle = yTitle;
  return frame;
}

// The y span of the graphs' points with their error bars.
std::pair<double, double> ySpan(const std::vector<const tk::Graph*>& graphs) {
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  for (const tk::Graph* g : graphs) {
    for (int i = 0; i < g->GetN(); ++i) {
      const double e = std::fabs(g->errorY[static_cast<std::size_t>(i)]);
      low = std::min(low, g->GetY()[static_cast<std::size_t>(i)] - e);
      high = std::max(high, g->GetY()[static_cast<std::size_t>(i)] + e);
    }
  }
  return {low, high};
}

const Series kRhoSeries[] = {
    {"window search", "status", "rho_ohm_cm", "rho_err", 4, 20, -0.15},
    {"knee fit", "knee_status", "knee_rho_ohm_cm", "knee_rho_err", 2, 21, 0.15}};
const Series kOnsetSeries[] = {
    {"window search", "status", "onset_v", "onset_err", 4, 20, -0.15},
    {"knee fit", "knee_status", "knee_onset_v", "knee_onset_err", 2, 21, 0.15}};

// A figure of both methods' values per gap, gaps grouped by chamber (grey lines
// between chambers). False with `error` when it cannot be written; `note` tells
// what is not shown.
bool paintPerGap(const std::vector<ScanTable>& scans, const Series (&series)[2], bool logScale,
                 const std::string& yTitle, const std::string& path, std::string& note, std::string& error) {
  std::vector<std::pair<double, std::string>> labels;
  std::vector<double> chamberEnds;
  const std::map<std::string, int> category = gapCategories(scans, labels, chamberEnds);
  tk::Graph graphs[2];
  long omitted = 0;
  for (int m = 0; m < 2; ++m) fillSeries(scans, category, series[m], logScale, graphs[m], omitted);
  if (omitted > 0) note = std::to_string(omitted) + " results with a resistivity that is not positive are not shown. ";
  const auto [low, high] = ySpan({&graphs[0], &graphs[1]});
  if (!(low <= high)) {
    note += "No gap has a result to show.";
    return true;
  }
  const double n = static_cast<double>(category.size());
  tk::Graph frame = frameGraph(-0.5, n - 0.5, low, high, "gap", yTitle);
  frame.xCategoryLabels = labels;
  const tk::AxisRange yRange = frame.yAxis();
  tk::Graph separators;
  separators.markerStyle = 1;
  separators.markerColor = 16;
  for (double x : chamberEnds) {
    separators.AddPoint(x, yRange.high + (yRange.high - yRange.low));  // the bar alone shows
    separators.errorY.push_back(4.0 * (yRange.high - yRange.low));
  }
  tk::Style style;
  style.padBottomMargin = 0.3;
  style.padRightMargin = 0.04;
  tk::Canvas canvas("pergap", yTitle, 1600, 900, style);
  canvas.DrawGraph(&frame, true);
  canvas.DrawGraph(&separators, false);
  tk::Legend legend;
  legend.x1 = 0.78, legend.y1 = 0.79, legend.x2 = 0.95, legend.y2 = 0.89;
  for (int m = 0; m < 2; ++m) {
    canvas.DrawGraph(&graphs[m], false);
    legend.AddEntry(&graphs[m], series[m].label, "p");
  }
  canvas.DrawLegend(legend);
  return canvas.SaveAs(path, error);
}

// A histogram of log10 of the knee-fit resistivity of the gaps of one type.
bool paintKneeHistogram(const std::vector<ScanTable>& scans, const std::string& type,
                        const std::string& path, long& entries, std::string& error) {
  tk::Histogram histogram("knee_rho_" + type, type, 20, 0.0, 0.0);
  entries = 0;
  for (const ScanTable& scan : scans) {
    for (const ResultsRow& row : scan.rows) {
      double v = 0.0;
      if (row.get("knee_status") != "fitted" || gapType(row.get("gap")) != type) continue;
      if (!readFinite(row.get("knee_rho_ohm_cm"), v) || !(v > 0.0)) continue;
      histogram.Fill(std::log10(v));
      ++entries;
    }
  }
  if (entries == 0) return true;
  double top = 0.0;
  for (int b = 0; b < histogram.bins(); ++b) top = std::max(top, histogram.content(b));
  const tk::Graph frame = frameGraph(histogram.low(), histogram.high(), 0.0, top,
                                     "log_{10}(#rho_{knee} [#Omega cm])", "gaps");
  tk::Canvas canvas("knee_rho_" + type, type, 1000, 600, tk::Style{});
  canvas.DrawGraph(&frame, true);
  canvas.DrawHistogram(histogram);
  return canvas.SaveAs(path, error);
}

}  // namespace

namespace {

// Thumbnails are made up to 240 pixels wide and shown 160 wide, sharp on screens
// of more than one pixel a point.
constexpr int kThumbWidth = 240;
constexpr int kThumbShown = 160;

const char* const kStyleSheet =
    "body{font-family:sans-serif;margin:1.5em;color:#111;background:#fff}"
    "table{border-collapse:collapse;margin:0.5em 0 1.5em}"
    "th,td{border:1px solid #bbb;padding:3px 6px;vertical-align:middle;text-align:left}"
    "th{background:#eee}td.num{text-align:right;white-space:nowrap}"
    "img{max-width:100%;height:auto}figure{margin:0.5em 0;max-width:1100px}"
    "figure.small{display:inline-block;width:32%;min-width:300px;margin-right:1%;vertical-align:top}"
    ".pass{background:#d8f5d8}.fail{background:#f8d0d0}.noresult{background:#f3efd2}"
    ".note{color:#666;font-style:italic}td.note{min-width:10em}.error{color:#a00}"
    "img.thumb{max-width:none}td.pass,td.fail,td.noresult{min-width:12em}";

// "value ± error" in HTML, the rounding of results.tex; "" for no value.
std::string htmlValue(const ResultsRow& row, const char* value, const char* error) {
  return markedValueWithError(roundValueWithError(row.get(value), row.get(error)), " &plusmn; ",
                              [](int n) { return " &times; 10<sup>" + std::to_string(n) + "</sup>"; });
}

// `target` relative to `dir`, both taken as absolute paths, "/"-separated.
std::string relativePath(const std::string& target, const std::string& dir) {
  const fs::path from = fs::absolute(dir).lexically_normal();
  const fs::path to = fs::absolute(target).lexically_normal();
  return to.lexically_relative(from).generic_string();
}

// Where the report is written and the running count of its thumbnails.
struct ReportPlace {
  std::string dir;  // the output directory, ending in "/"
  int thumbs = 0;
  tk::Console& console;
};

// The figure cell of a gap: a thumbnail in thumbs/ linked to the full figure
// beside the results.csv, or a note when there is none.
std::string figureCell(const std::string& resultsFile, const std::string& gap, ReportPlace& place) {
  const std::string base = (fs::path(resultsFile).parent_path() / safeFileName(gap)).string();
  for (const char* extension : {".png", ".svg", ".pdf"}) {
    const std::string figure = base + extension;
    std::error_code ec;
    if (!fs::is_regular_file(figure, ec)) continue;
    const std::string link = urlPath(relativePath(figure, place.dir));
    const std::string thumb = "thumbs/" + std::to_string(++place.thumbs) + extension;
    std::string error;
    bool shown = false;
    if (std::string(extension) == ".png") {
      shown = writeThumbnail(figure, place.dir + thumb, kThumbWidth, error);
    } else if (std::string(extension) == ".svg") {
      fs::copy_file(figure, place.dir + thumb, fs::copy_options::overwrite_existing, ec);
      shown = !ec;
      if (ec) error = "cannot copy " + figure + ": " + ec.message();
    }
    if (!error.empty()) place.console.warning(error);
    if (shown) {
      return "<a href=\"" + htmlEscape(link) + "\"><img class=\"thumb\" src=\"" + thumb + "\" width=\"" +
             std::to_string(kThumbShown) + "\" alt=\"figure of " + htmlEscape(gap) + "\"></a>";
    }
    return "<a href=\"" + htmlEscape(link) + "\">figure</a> <span class=\"note\">(" +
           (error.empty() ? std::string("no thumbnail of a PDF") : "no thumbnail: " + htmlEscape(error)) +
           ")</span>";
  }
  return "<span class=\"note\">no figure (" + htmlEscape(safeFileName(gap)) + ".png not beside results.csv)</span>";
}

std::string statusCell(const std::string& status) {
  if (status == "fitted") return "<td>fitted</td>";
  return "<td class=\"note\">" + htmlEscape(status.empty() ? "no result" : status) + "</td>";
}

std::string gapLine(const ScanTable& scan, const ResultsRow& row, const Limits* limits, ReportPlace& place) {
  std::string line = "<tr><td>" + figureCell(scan.file, row.get("gap"), place) + "</td><td>" +
                     htmlEscape(row.get("gap")) + "</td>";
  line += statusCell(row.get("status"));
  line += "<td class=\"num\">" + htmlValue(row, "rho_ohm_cm", "rho_err") + "</td>";
  line += statusCell(row.get("knee_status"));
  line += "<td class=\"num\">" + htmlValue(row, "knee_rho_ohm_cm", "knee_rho_err") + "</td>";
  line += "<td class=\"num\">" + htmlValue(row, "onset_v", "onset_err") + "</td>";
  line += "<td class=\"num\">" + htmlValue(row, "knee_onset_v", "knee_onset_err") + "</td>";
  line += "<td class=\"num\">" + htmlValue(row, "offset_na_cm2", "offset_err") + "</td>";
  line += "<td class=\"num\">" + htmlValue(row, "knee_offset_na_cm2", "knee_offset_err") + "</td>";
  if (limits != nullptr) {
    const Verdict verdict = judgeGap(row, *limits);
    const char* kind = verdict.kind == Verdict::Kind::Pass ? "pass"
                       : verdict.kind == Verdict::Kind::Fail ? "fail" : "noresult";
    line += std::string("<td class=\"") + kind + "\">" + htmlEscape(verdict.text) + "</td>";
  }
  return line + "</tr>\n";
}

std::string scanSection(const ScanTable& scan, const Limits* limits, ReportPlace& place) {
  const std::string title = !scan.rows.empty() && !scan.rows.front().get("scan").empty()
                                ? scan.rows.front().get("scan") : scan.file;
  std::string html = "<section>\n<h3>" + htmlEscape(title) + "</h3>\n<p><a href=\"" +
                     htmlEscape(urlPath(relativePath(scan.file, place.dir))) + "\">" +
                     htmlEscape(scan.file) + "</a></p>\n";
  if (!scan.error.empty()) return html + "<p class=\"error\">" + htmlEscape(scan.error) + "</p>\n</section>\n";
  html += "<table>\n<tr><th>Figure</th><th>Gap</th><th>Window search</th><th>&rho; [&Omega; cm]</th>"
          "<th>Knee fit</th><th>&rho; knee [&Omega; cm]</th><th>Onset [V]</th><th>Onset knee [V]</th>"
          "<th>Offset [nA/cm<sup>2</sup>]</th><th>Offset knee [nA/cm<sup>2</sup>]</th>";
  if (limits != nullptr) html += "<th>Verdict</th>";
  html += "</tr>\n";
  for (const ResultsRow& row : scan.rows) html += gapLine(scan, row, limits, place);
  return html + "</table>\n</section>\n";
}

// Reads and parses each file; a failure is reported and kept with the file.
std::vector<ScanTable> readScanTables(const std::vector<std::string>& files, tk::Console& console) {
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
      parseResultsCsv(text.str(), file, scan.rows, scan.error);
    }
    if (!scan.error.empty()) console.error(scan.error);
    scans.push_back(std::move(scan));
  }
  return scans;
}

// The summary figures into figures/, and their part of the page.
std::string summarySection(const std::vector<ScanTable>& scans, ReportPlace& place) {
  std::string html = "<h2>Summary</h2>\n";
  auto figure = [&](const std::string& name, const std::string& caption, bool painted,
                    const std::string& note, const std::string& error) {
    if (!error.empty()) place.console.error(error);
    if (painted && error.empty()) {
      html += std::string(name.rfind("knee_rho_", 0) == 0 ? "<figure class=\"small\">" : "<figure>") + "<img src=\"figures/" + name + "\" alt=\"" + htmlEscape(caption) + "\"><figcaption>" +
              htmlEscape(caption) + "</figcaption></figure>\n";
    }
    if (!note.empty()) html += "<p class=\"note\">" + htmlEscape(caption + ": " + note) + "</p>\n";
  };
  const std::pair<const Series(*)[2], const char*> perGap[] = {
      {&kRhoSeries, "resistivity.png"}, {&kOnsetSeries, "onset.png"}};
  for (const auto& [series, name] : perGap) {
    const bool rho = series == &kRhoSeries;
    std::string note;
    std::string error;
    paintPerGap(scans, *series, rho, rho ? "log_{10}(#rho [#Omega cm])" : "onset [V]",
                place.dir + "figures/" + name, note, error);
    figure(name, rho ? "Resistivity per gap (log10 of rho in Ohm cm), window search and knee fit"
                     : "Onset per gap, window search and knee fit",
           note.find("No gap") == std::string::npos, note, error);
  }
  for (const char* type : {"bottom", "top-narrow", "top-wide", ""}) {
    const std::string name = std::string("knee_rho_") + (*type != 0 ? type : "other") + ".png";
    long entries = 0;
    std::string error;
    paintKneeHistogram(scans, type, place.dir + "figures/" + name, entries, error);
    const std::string caption = "Knee-fit resistivity of the " + std::string(*type != 0 ? type : "untyped") +
                                " gaps (log10 of rho in Ohm cm), " + std::to_string(entries) + " gaps";
    if (entries > 0) figure(name, caption, true, "", error);
  }
  return html;
}

std::string pageText(const std::vector<ScanTable>& scans, const Limits* limits, ReportPlace& place) {
  long gaps = 0, window = 0, knee = 0, failed = 0;
  for (const ScanTable& scan : scans) {
    failed += scan.error.empty() ? 0 : 1;
    for (const ResultsRow& row : scan.rows) {
      ++gaps;
      window += row.get("status") == "fitted" ? 1 : 0;
      knee += row.get("knee_status") == "fitted" ? 1 : 0;
    }
  }
  std::string html = std::string("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n") +
                     "<title>gapohm campaign report</title>\n<style>" + kStyleSheet + "</style>\n</head>\n<body>\n" +
                     "<h1>gapohm campaign report</h1>\n<p>" + std::to_string(scans.size()) + " results files, " +
                     std::to_string(gaps) + " gaps: " + std::to_string(window) + " with a window-search result, " +
                     std::to_string(knee) + " with a knee-fit result.";
  if (failed > 0) html += " <span class=\"error\">" + std::to_string(failed) + " files could not be read.</span>";
  if (limits != nullptr) html += " Verdicts from the limits in " + htmlEscape(limits->file) + ".";
  html += "</p>\n" + summarySection(scans, place) + "<h2>Scans</h2>\n";
  for (const ScanTable& scan : scans) html += scanSection(scan, limits, place);
  return html + "</body>\n</html>\n";
}

}  // namespace

int writeCampaignReport(const std::vector<std::string>& resultsFiles, const std::string& outputDir,
                        const Limits* limits, tk::Console& console) {
  ReportPlace place{outputDir.empty() ? "./" : outputDir, 0, console};
  if (place.dir.back() != '/') place.dir += '/';
  std::string error;
  for (const char* sub : {"", "figures", "thumbs"}) {
    if (!makeDirectories(place.dir + sub, error)) {
      console.error(error);
      return 1;
    }
  }
  const std::vector<ScanTable> scans = readScanTables(resultsFiles, console);
  const std::string page = pageText(scans, limits, place);
  if (!writeFileAtomically(place.dir + "index.html", page, error)) console.error(error);
  if (!console.failed()) console.out << "gapohm: report of " << scans.size() << " results files in " << place.dir << "index.html" << std::endl;
  return console.failed() ? 1 : 0;
}

bool loadLimits(const std::string& limitsFile, Limits& limits, std::ostream& err) {
  std::error_code ec;
  if (fs::is_directory(limitsFile, ec)) {
    err << "gapohm: cannot read limits file " << limitsFile << ": it is a directory\n";
    return false;
  }
  std::ifstream in(limitsFile, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string error;
  if (!in) {
    err << "gapohm: cannot read limits file " << limitsFile << ": " << std::strerror(errno) << "\n";
    return false;
  }
  if (!parseLimits(text.str(), limitsFile, limits, error)) {
    err << "gapohm: " << error << "\n";
    return false;
  }
  return true;
}

int runReport(const std::vector<std::string>& paths, const std::string& outputDir,
              const std::string& limitsFile, tk::Console& console) {
  Limits limits;
  if (!limitsFile.empty() && !loadLimits(limitsFile, limits, console.err)) return 2;
  const std::vector<std::string> files = findResultsFiles(paths, console);
  if (files.empty()) console.error("no results.csv found under the paths given");
  const int status = writeCampaignReport(files, outputDir, limitsFile.empty() ? nullptr : &limits, console);
  return console.failed() ? 1 : status;
}

int reportCommand(bool report, bool batch, const std::vector<std::string>& paths,
                  const std::string& outputDir, const std::string& limitsFile, tk::Console& console) {
  std::string usage;
  if (!report && !batch) usage = "--limits needs --report or --batch";
  else if (batch) usage = "--report and --batch cannot be given together";
  else if (paths.empty()) usage = "--report needs at least one results.csv or directory";
  if (!usage.empty()) {
    console.err << "gapohm: " << usage << "\nRun with --help for more information.\n";
    return 2;
  }
  return runReport(paths, outputDir, limitsFile, console);
}
