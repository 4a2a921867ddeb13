#include "toolkit/Style.h"

#include "toolkit/Look.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <set>
#include <string>

namespace tk {

namespace {

std::string trim(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// The macro without its comments; string literals are kept as they are, so a
// "//" inside a title does not cut the line.
std::string stripComments(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      const std::size_t start = i++;
      while (i < text.size() && text[i] != '"' && text[i] != '\n') {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        ++i;
      }
      if (i < text.size() && text[i] == '"') ++i;
      out.append(text, start, i - start);
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const std::size_t end = text.find("*/", i + 2);
      i = (end == std::string::npos) ? text.size() : end + 2;
      out += ' ';
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

// Statements: pieces between ';', '{' and '}' outside string literals.
std::vector<std::string> statements(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      current += c;
      if (c == '\\' && i + 1 < text.size()) {
        current += text[++i];
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
      current += c;
    } else if (c == ';' || c == '{' || c == '}') {
      const std::string s = trim(current);
      if (!s.empty()) out.push_back(s);
      current.clear();
    } else {
      current += c;
    }
  }
  const std::string s = trim(current);
  if (!s.empty()) out.push_back(s);
  return out;
}

bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The first string literal's content in s, if any.
bool firstString(const std::string& s, std::string& value) {
  const std::size_t open = s.find('"');
  if (open == std::string::npos) return false;
  const std::size_t close = s.find('"', open + 1);
  if (close == std::string::npos) return false;
  value = s.substr(open + 1, close - open - 1);
  return true;
}

// "TStyle *v = new TStyle("uLm", ...)", "v = new TStyle(...)",
// "TStyle* v = gROOT->GetStyle("uLm")": the variable bound to a style, and the
// style's name.
bool bindsStyle(const std::string& st, std::string& variable, std::string& name) {
  const std::size_t eq = st.find('=');
  if (eq == std::string::npos) return false;
  const std::string rhs = trim(st.substr(eq + 1));
  const bool creates = rhs.rfind("new", 0) == 0 && rhs.find("TStyle") != std::string::npos;
  const bool looksUp = rhs.find("GetStyle") != std::string::npos;
  if (!creates && !looksUp) return false;
  if (!firstString(rhs, name)) return false;
  std::string lhs = trim(st.substr(0, eq));
  std::size_t end = lhs.size();
  while (end > 0 && !isIdentChar(lhs[end - 1])) --end;
  std::size_t begin = end;
  while (begin > 0 && isIdentChar(lhs[begin - 1])) --begin;
  if (begin == end) return false;
  variable = lhs.substr(begin, end - begin);
  return true;
}

struct Call {
  std::string object;
  std::string method;
  std::vector<std::string> args;
};

// "obj->Method(a, b)" or "obj.Method(a, b)"; false for anything else.
bool parseCall(const std::string& st, Call& call) {
  std::size_t sep = st.find("->");
  std::size_t after = sep + 2;
  if (sep == std::string::npos) {
    sep = st.find('.');
    after = sep + 1;
  }
  if (sep == std::string::npos) return false;
  call.object = trim(st.substr(0, sep));
  if (call.object.empty()) return false;
  for (char c : call.object) {
    if (!isIdentChar(c)) return false;
  }
  const std::size_t open = st.find('(', after);
  const std::size_t close = st.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  if (!trim(st.substr(close + 1)).empty()) return false;
  call.method = trim(st.substr(after, open - after));
  if (call.method.empty()) return false;
  for (char c : call.method) {
    if (!isIdentChar(c)) return false;
  }
  call.args.clear();
  std::string current;
  bool inString = false;
  int depth = 0;
  for (std::size_t i = open + 1; i < close; ++i) {
    const char c = st[i];
    if (c == '"') inString = !inString;
    if (!inString && c == '(') ++depth;
    if (!inString && c == ')') --depth;
    if (!inString && depth == 0 && c == ',') {
      call.args.push_back(trim(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!trim(current).empty() || !call.args.empty()) call.args.push_back(trim(current));
  return true;
}

bool toNumber(const std::string& text, double& value) {
  std::string t = trim(text);
  // Casts such as (Float_t)0.12 are common in macros.
  if (!t.empty() && t.front() == '(') {
    const std::size_t close = t.find(')');
    if (close != std::string::npos) t = trim(t.substr(close + 1));
  }
  if (t.empty()) return false;
  char* end = nullptr;
  value = std::strtod(t.c_str(), &end);
  if (end == t.c_str()) return false;
  std::string rest = trim(std::string(end));
  if (rest == "f" || rest == "F") rest.clear();
  return rest.empty() && std::isfinite(value);
}

bool toBool(const std::string& text, bool& value) {
  const std::string t = trim(text);
  if (t == "kTRUE" || t == "true" || t == "1") {
    value = true;
    return true;
  }
  if (t == "kFALSE" || t == "false" || t == "0") {
    value = false;
    return true;
  }
  return false;
}

// Largest colour index a macro may name.
constexpr double kLargestColour = 1e6;

// A colour index: a number, or a colour's name with an optional whole offset of
// at most kLargestColourOffset ("kOrange+7", "kGray - 1"): only the offsets that
// name a shade of the colour, so every name taken is painted in its colour.
bool toColour(const std::string& text, int& index) {
  double v = 0.0;
  if (toNumber(text, v)) {
    // Beyond any colour table, and beyond what an int holds.
    if (v < 0 || v != std::floor(v) || v > kLargestColour) return false;
    index = static_cast<int>(v);
    return true;
  }
  std::string t = trim(text);
  int offset = 0;
  const std::size_t sign = t.find_first_of("+-");
  if (sign != std::string::npos) {
    double o = 0.0;
    if (!toNumber(t.substr(sign + 1), o) || o != std::floor(o) || !(std::fabs(o) <= kLargestColourOffset)) {
      return false;
    }
    offset = static_cast<int>(t[sign] == '-' ? -o : o);
    t = trim(t.substr(0, sign));
  }
  const int base = colourIndexOfName(t);
  if (base < 0 || base + offset < 0) return false;
  index = base + offset;
  return true;
}

// Font family from a font code (family * 10 + precision).
bool toFont(const std::string& text, std::string& family, bool& bold) {
  double v = 0.0;
  // Codes run from 10 to 139; larger values would not even fit an int.
  if (!toNumber(text, v) || v < 10 || v >= 1000) return false;
  const int code = static_cast<int>(v) / 10;
  switch (code) {
    case 1: family = "serif"; bold = false; return true;   // times italic
    case 2: family = "serif"; bold = true; return true;    // times bold
    case 3: family = "serif"; bold = true; return true;    // times bold italic
    case 4: family = "sans"; bold = false; return true;    // helvetica
    case 5: family = "sans"; bold = false; return true;    // helvetica oblique
    case 6: family = "sans"; bold = true; return true;     // helvetica bold
    case 7: family = "sans"; bold = true; return true;     // helvetica bold oblique
    case 8: family = "mono"; bold = false; return true;    // courier
    case 9: family = "mono"; bold = false; return true;
    case 10: family = "mono"; bold = true; return true;
    case 11: family = "mono"; bold = true; return true;
    case 13: family = "serif"; bold = false; return true;  // times
    default: return false;
  }
}

// The axes an axis option names ("X", "Y", "XY", "xyz"); X alone when absent.
void axesOf(const std::vector<std::string>& args, std::size_t at, bool& x, bool& y) {
  std::string axis = "X";
  if (args.size() > at) {
    std::string value;
    if (firstString(args[at], value)) axis = value;
  }
  x = axis.find_first_of("xX") != std::string::npos;
  y = axis.find_first_of("yY") != std::string::npos;
}

// Applies one setter; false when it is not in the supported subset or its
// arguments do not make sense (the setting is then left as it was).
bool applySetter(const Call& call, Style& style) {
  const std::string& m = call.method;
  const auto& a = call.args;
  double v = 0.0;
  auto number = [&](double low, double high) {
    return !a.empty() && toNumber(a[0], v) && v >= low && v <= high;
  };
  if (m == "SetPadLeftMargin" || m == "SetPadRightMargin" || m == "SetPadTopMargin" ||
      m == "SetPadBottomMargin") {
    if (!number(0.0, 0.45)) return false;
    if (m == "SetPadLeftMargin") style.padLeftMargin = v;
    if (m == "SetPadRightMargin") style.padRightMargin = v;
    if (m == "SetPadTopMargin") style.padTopMargin = v;
    if (m == "SetPadBottomMargin") style.padBottomMargin = v;
    return true;
  }
  if (m == "SetLabelSize" || m == "SetTitleSize") {
    if (!number(0.0, 0.2)) return false;
    bool x = false;
    bool y = false;
    axesOf(a, 1, x, y);
    if (!x && !y) return false;
    (m == "SetLabelSize" ? style.labelSize : style.titleSize) = v;
    return true;
  }
  if (m == "SetTitleXSize" || m == "SetTitleYSize") {
    if (!number(0.0, 0.2)) return false;
    style.titleSize = v;
    return true;
  }
  if (m == "SetTitleOffset") {
    if (!number(0.0, 10.0)) return false;
    bool x = false;
    bool y = false;
    axesOf(a, 1, x, y);
    if (!x && !y) return false;
    if (x) style.titleOffsetX = v;
    if (y) style.titleOffsetY = v;
    return true;
  }
  if (m == "SetTitleXOffset" || m == "SetTitleYOffset") {
    if (!number(0.0, 10.0)) return false;
    (m == "SetTitleXOffset" ? style.titleOffsetX : style.titleOffsetY) = v;
    return true;
  }
  if (m == "SetLabelOffset") {
    if (!number(-0.1, 0.2)) return false;
    bool x = false;
    bool y = false;
    axesOf(a, 1, x, y);
    if (!x && !y) return false;
    style.labelOffset = v;
    return true;
  }
  if (m == "SetTextFont" || m == "SetLabelFont" || m == "SetTitleFont" || m == "SetLegendFont") {
    if (a.empty()) return false;
    return toFont(a[0], style.font, style.bold);
  }
  if (m == "SetPadGridX" || m == "SetPadGridY") {
    bool on = false;
    if (a.empty() || !toBool(a[0], on)) return false;
    (m == "SetPadGridX" ? style.gridX : style.gridY) = on;
    return true;
  }
  if (m == "SetPadTickX" || m == "SetPadTickY") {
    if (!number(0.0, 2.0)) return false;
    (m == "SetPadTickX" ? style.tickX : style.tickY) = v != 0.0;
    return true;
  }
  if (m == "SetMarkerStyle") {
    if (!number(1.0, 50.0)) return false;
    style.markerStyle = static_cast<int>(v);
    return true;
  }
  if (m == "SetMarkerSize") {
    if (!number(0.0, 20.0)) return false;
    style.markerSize = v;
    return true;
  }
  if (m == "SetLineWidth" || m == "SetFrameLineWidth") {
    if (!number(0.0, 20.0)) return false;
    style.lineWidth = static_cast<int>(v);
    return true;
  }
  if (m == "SetLegendBorderSize") {
    if (!number(0.0, 20.0)) return false;
    style.legendBorderSize = static_cast<int>(v);
    return true;
  }
  if (m == "SetLegendFillColor") {
    return !a.empty() && toColour(a[0], style.legendFillColor);
  }
  if (m == "SetOptStat" || m == "SetOptTitle") {
    if (!number(0.0, 1e9)) return false;
    (m == "SetOptStat" ? style.optStat : style.optTitle) = static_cast<int>(v);
    return true;
  }
  if (m == "SetCanvasColor" || m == "SetFrameFillColor") {
    return !a.empty() && toColour(a[0], m == "SetCanvasColor" ? style.canvasColor : style.frameFillColor);
  }
  return false;
}

}  // namespace

void readStyleMacro(std::istream& macro, const std::string& styleName, Style& style,
                    std::vector<std::string>& ignored) {
  // A style macro is a few dozen lines; a file of megabytes (or a device) is not
  // one, and is read only as far as a macro could reach.
  constexpr std::size_t kLargestMacro = 1 << 20;
  std::string raw;
  char chunk[4096];
  while (raw.size() < kLargestMacro && macro) {
    const std::size_t want = std::min(sizeof chunk, kLargestMacro - raw.size());
    macro.read(chunk, static_cast<std::streamsize>(want));
    raw.append(chunk, static_cast<std::size_t>(std::max<std::streamsize>(macro.gcount(), 0)));
  }
  if (raw.size() == kLargestMacro && macro && macro.peek() != std::char_traits<char>::eof()) {
    ignored.push_back("everything after the first 1 MiB of the macro");
  }
  const std::string text = stripComments(raw);
  // The style may be used under its own name or through any variable bound to it.
  std::set<std::string> variables = {styleName};
  for (const std::string& st : statements(text)) {
    std::string variable;
    std::string name;
    if (bindsStyle(st, variable, name)) {
      // A variable re-bound to another style no longer speaks for ours.
      if (name == styleName) {
        variables.insert(variable);
      } else if (variable != styleName) {
        variables.erase(variable);
      }
      continue;
    }
    Call call;
    if (!parseCall(st, call)) {
      // Declarations and control lines without a setter are of no concern; a setter
      // that could not be read is reported.
      if (st.find("Set") != std::string::npos) ignored.push_back(st);
      continue;
    }
    if (call.method.rfind("Set", 0) != 0) continue;  // SetStyle, cd, ForceStyle...
    if (variables.count(call.object) == 0) {
      // Settings on another style (gStyle before the selection) do not reach "uLm".
      if (call.object != "gROOT") ignored.push_back(st);
      continue;
    }
    if (!applySetter(call, style)) ignored.push_back(st);
  }
}

}  // namespace tk
