// The device's text path, step by step: the library turns plptex's arguments
// into a reference point in its integer physical coordinates and a rotation,
// walks the string's escapes into Pango markup (a span with the font of the
// stream's font characterisation integer, rise spans for scripts), lays the
// markup out with a fresh Pango context of the page, and shows it clipped to
// the clip window, moved back by `just` of its pixel width and down to put the
// middle of the font size on the reference point. Each step below reads the
// same stream values and makes the same calls with the same numbers.
#include "toolkit/PageText.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <plplotP.h>

namespace tk {

namespace {

// The device's markup buffer: characters stop being added 50 bytes short of
// it. Markup that comes near is left to the library, which truncates it.
constexpr std::size_t kDeviceMarkupRoom = 5000 - 100;
constexpr int kDeviceDpi = 72;
constexpr float kRiseFactor = 0.8F;  // the device's first script offset, of the font size

// The device's font families by the characterisation integer's family digit,
// each replaceable through the environment as the device allows.
std::string familyName(unsigned family) {
  static const char* const kEnvironment[] = {"PLPLOT_FREETYPE_SANS_FAMILY", "PLPLOT_FREETYPE_SERIF_FAMILY",
                                             "PLPLOT_FREETYPE_MONO_FAMILY", "PLPLOT_FREETYPE_SCRIPT_FAMILY",
                                             "PLPLOT_FREETYPE_SYMBOL_FAMILY"};
  static const char* const kDefault[] = {"sans", "serif", "monospace", "sans,serif", "sans,serif"};
  const char* chosen = std::getenv(kEnvironment[family]);
  return chosen != nullptr ? std::string(chosen).substr(0, 1023) : kDefault[family];
}

// The opening span of the device for the font `fci` at `fontSize` points;
// false for a font the device would warn about, left to it.
bool openSpan(std::string& markup, PLUNICODE fci, float fontSize) {
  static const char* const kStyle[] = {"normal", "italic", "oblique"};
  static const char* const kWeight[] = {"normal", "bold"};
  unsigned char family = 0;
  unsigned char style = 0;
  unsigned char weight = 0;
  plP_fci2hex(fci, &family, PL_FCI_FAMILY);
  plP_fci2hex(fci, &style, PL_FCI_STYLE);
  plP_fci2hex(fci, &weight, PL_FCI_WEIGHT);
  if (family >= 5 || style >= 3 || weight >= 2) return false;
  const std::string name = familyName(family);
  if (name.size() > 100) return false;  // the device cuts its tag short
  char tag[200];
  std::snprintf(tag, sizeof tag, "<span font_desc=\"%s\" size=\"%d\" ", name.c_str(),
                static_cast<int>(static_cast<double>(fontSize) * 1024.));
  markup += tag;
  markup += "style=\"";
  markup += kStyle[style];
  markup += "\" weight=\"";
  markup += kWeight[weight];
  markup += "\">";
  return true;
}

// The device's span for one script level further from the base line.
std::string riseSpan(bool up, float fontSize, float multiplier, float rise) {
  const float raised = 1024.F * fontSize * kRiseFactor * rise;
  const float offset = 1024.F * 0.5F * fontSize * (1.0F - multiplier);
  const int size = static_cast<int>(static_cast<double>(fontSize) * 1024. * static_cast<double>(multiplier));
  char tag[100];
  std::snprintf(tag, sizeof tag, "<span rise=\"%d\" size=\"%d\">",
                up ? static_cast<int>(raised + offset) : static_cast<int>(-(raised - offset)), size);
  return tag;
}

// The code point of the UTF-8 sequence at text[i], i moved to its last byte;
// false for a malformed one.
bool nextCodePoint(const std::string& text, std::size_t& i, PLUNICODE& code) {
  const auto lead = static_cast<unsigned char>(text[i]);
  int more = 0;
  if (lead < 0x80) {
    code = lead;
  } else if ((lead & 0xE0U) == 0xC0U) {
    code = lead & 0x1FU;
    more = 1;
  } else if ((lead & 0xF0U) == 0xE0U) {
    code = lead & 0x0FU;
    more = 2;
  } else if ((lead & 0xF8U) == 0xF0U) {
    code = lead & 0x07U;
    more = 3;
  } else {
    return false;
  }
  for (; more > 0; --more) {
    if (i + 1 >= text.size() || (static_cast<unsigned char>(text[i + 1]) & 0xC0U) != 0x80U) return false;
    code = code << 6 | (static_cast<unsigned char>(text[++i]) & 0x3FU);
  }
  return true;
}

void appendCharacter(std::string& markup, PLUNICODE code) {
  if (code == '&') {
    markup += "&#38;";
  } else if (code == '<') {
    markup += "&#60;";
  } else if (code == '>') {
    markup += "&#62;";
  } else {
    char utf8[5] = {};
    ucs4_to_utf8(code, utf8);
    markup += utf8;
  }
}

// Where the scripts stand while a string is walked.
struct Scripts {
  int upDown = 0;
  PLINT level = 0;
  PLFLT oldScale = 1.0, scale = 1.0, oldOffset = 0.0, offset = 0.0;

  void step(std::string& markup, bool up, float fontSize) {
    if (up ? upDown < 0 : upDown > 0) {
      markup += "</span>";  // back towards the base line
      level += up ? 1 : -1;
    } else {
      plP_script_scale(up ? 1 : 0, &level, &oldScale, &scale, &oldOffset, &offset);
      markup += riseSpan(up, fontSize, static_cast<float>(scale), static_cast<float>(offset));
    }
    upDown += up ? 1 : -1;
  }
};

// The device's markup of the library text `text`; false for what it leaves to
// the library.
bool deviceMarkup(const std::string& text, float fontSize, std::string& markup) {
  PLUNICODE fci = 0;
  plgfci(&fci);
  markup.clear();
  if (!openSpan(markup, fci, fontSize)) return false;
  char escape = '#';
  plgesc(&escape);
  Scripts scripts;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == escape && i + 1 < text.size() && text[i + 1] != escape) {
      const char command = text[i + 1];
      if (command != 'u' && command != 'd') return false;
      scripts.step(markup, command == 'u', fontSize);
      ++i;
      continue;
    }
    PLUNICODE code = 0;
    if (!nextCodePoint(text, i, code)) return false;
    if (text[i] == escape && i + 1 < text.size() && text[i + 1] == escape) ++i;
    appendCharacter(markup, code);
    if (markup.size() >= kDeviceMarkupRoom) return false;
  }
  for (int k = std::abs(scripts.upDown); k > 0; --k) markup += "</span>";
  markup += "</span>";
  return markup.size() < kDeviceMarkupRoom;
}

// The reference point plptex hands the device, in physical coordinates, and
// its text transform.
struct Reference {
  PLINT x = 0, y = 0;
  PLFLT xform[4] = {1.0, 0.0, 0.0, 1.0};
};

Reference referenceOf(const PLStream& s, double wx, double wy, double dx, double dy) {
  Reference r;
  PLFLT dxt = wx + dx;
  PLFLT dyt = wy + dy;
  dxt = dxt - wx;
  dyt = dyt - wy;
  if (dxt == 0.0 && dyt == 0.0) {
    dxt = 1.0;
    dyt = 0.0;
  }
  PLFLT cc = s.wmxscl * dxt;
  PLFLT ss = s.wmyscl * dyt;
  const PLFLT diag = std::sqrt(cc * cc + ss * ss);
  cc /= diag;
  ss /= diag;
  r.xform[0] = cc;
  r.xform[1] = -ss;
  r.xform[2] = ss;
  r.xform[3] = cc;
  const PLFLT xdv = s.wdxoff + s.wdxscl * wx;
  const PLFLT ydv = s.wdyoff + s.wdyscl * wy;
  const PLFLT xmm = xdv * ABS(s.phyxma - s.phyxmi) / s.xpmm + 0. * s.chrht;
  const PLFLT ymm = ydv * ABS(s.phyyma - s.phyymi) / s.ypmm + 0. * s.chrht;
  r.x = ROUND(s.phyxmi + s.xpmm * xmm);
  r.y = ROUND(s.phyymi + s.ypmm * ymm);
  return r;
}

// The device's ratio of page pixels to physical coordinates.
double downscaleOf(const PLStream& s) {
  return s.xlength > s.ylength ? static_cast<double>(s.xlength) / static_cast<double>(PIXELS_X - 1)
                               : static_cast<double>(s.ylength) / static_cast<double>(PIXELS_Y);
}

// The stream's colour and line width on the page, as the device sets them
// before it shows a string.
void deviceState(cairo_t* page, const PLStream& s) {
  cairo_set_source_rgba(page, static_cast<double>(s.curcolor.r) / 255.0, static_cast<double>(s.curcolor.g) / 255.0,
                        static_cast<double>(s.curcolor.b) / 255.0, static_cast<double>(s.curcolor.a));
  cairo_set_line_width(page, s.width <= 0. ? 1.0 : static_cast<double>(s.width));
}

// The stream's clip window as the page's clip.
void clipToWindow(cairo_t* page, double downscale) {
  PLINT rcx[4] = {};
  PLINT rcy[4] = {};
  difilt_clip(rcx, rcy);
  cairo_move_to(page, downscale * static_cast<double>(rcx[0]), downscale * static_cast<double>(rcy[0]));
  for (int k : {1, 2, 3, 0}) {
    cairo_line_to(page, downscale * static_cast<double>(rcx[k]), downscale * static_cast<double>(rcy[k]));
  }
  cairo_clip(page);
  cairo_new_path(page);
}

}  // namespace

struct PageTextBook::Layouts {
  struct Laid {
    PangoLayout* layout = nullptr;
    int width = 0;     // pixels, as the device measures the string
    int baseline = 0;  // Pango units
  };
  // Strings kept at most: a worker's figures draw a few hundred distinct ones;
  // the bound keeps a long run of changing labels from growing the book.
  static constexpr std::size_t kMaxStrings = 4096;
  PangoContext* context_ = nullptr;
  std::map<std::string, Laid> layouts_;

  Layouts() = default;
  Layouts(const Layouts&) = delete;
  Layouts& operator=(const Layouts&) = delete;
  ~Layouts() { forget(); }
  // The laid-out markup, made on first use. Null when Pango fails.
  const Laid* laid(cairo_t* page, const std::string& markup);
  void forgetStrings() {
    for (auto& entry : layouts_) g_object_unref(entry.second.layout);
    layouts_.clear();
  }
  void forget() {
    forgetStrings();
    if (context_ != nullptr) g_object_unref(context_);
    context_ = nullptr;
  }
};

PageTextBook::PageTextBook() : layouts_(std::make_unique<Layouts>()) {}

PageTextBook::~PageTextBook() = default;

const PageTextBook::Layouts::Laid* PageTextBook::Layouts::laid(cairo_t* page, const std::string& markup) {
  // The device lays a string out with a fresh context of the page, whose
  // matrix is the page's transform without its offset: a context kept for
  // another transform is made again.
  cairo_matrix_t m;
  cairo_get_matrix(page, &m);
  const PangoMatrix* kept = context_ != nullptr ? pango_context_get_matrix(context_) : nullptr;
  if (context_ != nullptr &&
      (kept == nullptr || kept->xx != m.xx || kept->yx != m.yx || kept->xy != m.xy || kept->yy != m.yy)) {
    forget();
  }
  if (context_ == nullptr) {
    context_ = pango_cairo_create_context(page);
    // What the device sets before showing: its default text antialiasing.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_DEFAULT);
    pango_cairo_context_set_font_options(context_, options);
    cairo_font_options_destroy(options);
  }
  auto found = layouts_.find(markup);
  if (found != layouts_.end()) return &found->second;
  if (layouts_.size() >= kMaxStrings) forgetStrings();
  Laid made;
  made.layout = pango_layout_new(context_);
  if (made.layout == nullptr) return nullptr;
  pango_layout_set_markup(made.layout, markup.c_str(), -1);
  int height = 0;
  pango_layout_get_pixel_size(made.layout, &made.width, &height);
  made.baseline = pango_layout_get_baseline(made.layout);
  return &layouts_.emplace(markup, made).first->second;
}

bool PageTextBook::draw(cairo_t* page, double wx, double wy, double dx, double dy, double just,
                        const std::string& text) {
  const PLStream* stream = plsc;
  if (page == nullptr || stream == nullptr || stream->level < 3 || stream->coordinate_transform != nullptr ||
      stream->difilt != 0 || stream->get_string_length != 0) {
    return false;
  }
  if (text.empty()) return true;  // the library draws nothing either
  const float fontSize = static_cast<float>(stream->chrht * kDeviceDpi / 25.4);
  std::string markup;
  if (!deviceMarkup(text, fontSize, markup)) return false;
  Reference at = referenceOf(*stream, wx, wy, dx, dy);
  const double downscale = downscaleOf(*stream);
  const Layouts::Laid* shown = layouts_->laid(page, markup);
  if (shown == nullptr) return false;

  deviceState(page, *stream);
  cairo_save(page);
  clipToWindow(page, downscale);
  cairo_move_to(page, downscale * static_cast<double>(at.x), downscale * static_cast<double>(at.y));
  cairo_matrix_t flip;
  cairo_matrix_init(&flip, 1.0, 0.0, 0.0, -1.0, 0.0, 0.0);
  cairo_transform(page, &flip);
  PLFLT rotation = 0.0;
  PLFLT shear = 0.0;
  PLFLT stride = 0.0;
  plRotationShear(at.xform, &rotation, &shear, &stride);
  rotation -= stream->diorot * PI / 2.0;
  const double cosRot = std::cos(rotation);
  const double sinRot = std::sin(rotation);
  const double cosShear = std::cos(shear);
  const double sinShear = std::sin(shear);
  cairo_matrix_t turn;
  cairo_matrix_init(&turn, cosRot * stride, -sinRot * stride, cosRot * sinShear + sinRot * cosShear,
                    -sinRot * sinShear + cosRot * cosShear, 0, 0);
  cairo_transform(page, &turn);
  cairo_rel_move_to(page, -1.0 * just * static_cast<double>(shown->width),
                    0.5 * static_cast<double>(fontSize) - shown->baseline / 1024.0);
  pango_cairo_show_layout(page, shown->layout);
  cairo_restore(page);
  return true;
}

namespace {

// Whether two segments' pixels (half the stroke's width and a pixel of
// antialiasing around it, with room to spare) cannot meet.
bool apart(const std::array<PLINT, 4>& p, const std::array<PLINT, 4>& q, double downscale, double reach) {
  auto gap = [downscale](PLINT lowEnd, PLINT highEnd) { return downscale * static_cast<double>(highEnd - lowEnd); };
  return gap(std::max(p[0], p[2]), std::min(q[0], q[2])) > 2 * reach ||
         gap(std::max(q[0], q[2]), std::min(p[0], p[2])) > 2 * reach ||
         gap(std::max(p[1], p[3]), std::min(q[1], q[3])) > 2 * reach ||
         gap(std::max(q[1], q[3]), std::min(p[1], p[3])) > 2 * reach;
}

}  // namespace

bool joinApart(cairo_t* page, const std::vector<std::array<double, 4>>& segments) {
  const PLStream* stream = plsc;
  if (page == nullptr || stream == nullptr || stream->level < 3 || stream->coordinate_transform != nullptr ||
      stream->difilt != 0 || stream->nms != 0) {
    return false;
  }
  // Each end in physical coordinates, as the library converts it; a segment
  // with an end outside the clip window would be cut.
  std::vector<std::array<PLINT, 4>> ends;
  ends.reserve(segments.size());
  for (const auto& s : segments) {
    for (double v : s) {
      if (!std::isfinite(v)) return false;
    }
    const std::array<PLINT, 4> e = {ROUND(stream->wpxoff + stream->wpxscl * s[0]), ROUND(stream->wpyoff + stream->wpyscl * s[1]),
                                    ROUND(stream->wpxoff + stream->wpxscl * s[2]), ROUND(stream->wpyoff + stream->wpyscl * s[3])};
    for (int k : {0, 2}) {
      if (e[k] < stream->clpxmi || e[k] > stream->clpxma || e[k + 1] < stream->clpymi || e[k + 1] > stream->clpyma) return false;
    }
    ends.push_back(e);
  }
  const double downscale = downscaleOf(*stream);
  const double reach = (stream->width <= 0. ? 0.5 : 0.5 * static_cast<double>(stream->width)) + 2.0;
  deviceState(page, *stream);
  cairo_save(page);
  cairo_set_line_join(page, CAIRO_LINE_JOIN_BEVEL);
  cairo_set_line_cap(page, CAIRO_LINE_CAP_ROUND);
  // In order, in runs of segments apart from each other: one that comes near
  // one of the run is blended after the run, as it is after its stroke alone.
  std::size_t run = 0;
  for (std::size_t k = 0; k < ends.size(); ++k) {
    bool joins = true;
    for (std::size_t j = run; joins && j < k; ++j) joins = apart(ends[j], ends[k], downscale, reach);
    if (!joins) {
      cairo_stroke(page);
      run = k;
    }
    const auto& e = ends[k];
    cairo_move_to(page, downscale * static_cast<double>(static_cast<short>(e[0])),
                  downscale * static_cast<double>(static_cast<short>(e[1])));
    cairo_line_to(page, downscale * static_cast<double>(static_cast<short>(e[2])),
                  downscale * static_cast<double>(static_cast<short>(e[3])));
  }
  if (!ends.empty()) cairo_stroke(page);
  cairo_restore(page);
  return true;
}

}  // namespace tk
