#include "toolkit/Histogram.h"

#include <gsl/gsl_histogram.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "toolkit/Look.h"

namespace tk {

struct Histogram::Impl {
  bool automatic = false;       // range still to be taken from the data
  double low = 0.0;
  double high = 0.0;
  gsl_histogram* bins = nullptr;  // allocated once the range is known
  std::vector<double> pending;  // fills buffered while the range is automatic
  double underflow = 0.0;
  double overflow = 0.0;

  Impl() = default;
  Impl(const Impl& o)
      : automatic(o.automatic), low(o.low), high(o.high), pending(o.pending),
        underflow(o.underflow), overflow(o.overflow) {
    if (o.bins != nullptr) bins = gsl_histogram_clone(o.bins);
  }
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    if (bins != nullptr) gsl_histogram_free(bins);
  }

  void allocate(int nbins) {
    bins = gsl_histogram_alloc(static_cast<std::size_t>(nbins));
    gsl_histogram_set_ranges_uniform(bins, low, high);
  }

  // Half-open bins: the upper edge and NaN belong to the overflow. GSL is only
  // asked about values strictly inside, as its bin search is undefined for NaN.
  void add(double x) {
    if (x < low) {
      underflow += 1.0;
    } else if (!(x < high)) {
      overflow += 1.0;
    } else {
      std::size_t i = 0;
      if (gsl_histogram_find(bins, x, &i) == 0) {
        gsl_histogram_increment(bins, x);
      } else {
        overflow += 1.0;  // only reachable through rounding at the upper edge
      }
    }
  }
};

namespace {

// The range a histogram without usable edges takes from its data: the data's
// span (2 wide around a single value), widened by 10% each side, the lower end
// kept at 0 for non-negative data, then rounded outwards to multiples of the
// step the axis ticks would use, so the edges read as round numbers.
void automaticRange(const std::vector<double>& data, double& low, double& high) {
  bool any = false;
  double lo = 0.0;
  double hi = 0.0;
  for (double v : data) {
    if (!std::isfinite(v)) continue;  // infinities and NaN land in under/overflow
    if (!any) {
      lo = hi = v;
      any = true;
    } else {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  const double dataMin = lo;
  if (lo == hi) {
    lo -= 1.0;
    hi += 1.0;
  }
  const double margin = 0.1 * (hi - lo);
  lo -= margin;
  hi += margin;
  if (lo < 0.0 && dataMin >= 0.0) lo = 0.0;
  const double step = niceStep(hi - lo, 10);
  if (step > 0.0 && std::isfinite(step)) {
    // The small allowance keeps edges that already are multiples of the step
    // (0.3 / 0.1 = 2.9999999999999996) from moving out by a whole step.
    lo = std::floor(lo / step + 1e-9) * step;
    hi = std::ceil(hi / step - 1e-9) * step;
  }
  if (!(lo < hi && std::isfinite(hi - lo))) {
    lo = -1.0;
    hi = 1.0;
  }
  low = lo;
  high = hi;
}

}  // namespace

Histogram::Histogram(std::string name, std::string title, int nbins, double low, double high)
    : name_(std::move(name)), title_(std::move(title)), nbins_(nbins), impl_(std::make_unique<Impl>()) {
  if (nbins < 1) throw std::invalid_argument("Histogram: needs at least one bin");
  impl_->low = low;
  impl_->high = high;
  // Edges GSL could not divide into bins (a span beyond the doubles) count as none.
  impl_->automatic = !(low < high && std::isfinite(high - low));
  if (!impl_->automatic) impl_->allocate(nbins_);
}

Histogram::~Histogram() = default;

Histogram::Histogram(const Histogram& other)
    : name_(other.name_), title_(other.title_), nbins_(other.nbins_), entries_(other.entries_),
      impl_(std::make_unique<Impl>(*other.impl_)) {}

Histogram& Histogram::operator=(const Histogram& other) {
  if (this != &other) {
    Histogram copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Histogram::Histogram(Histogram&&) noexcept = default;
Histogram& Histogram::operator=(Histogram&&) noexcept = default;

void Histogram::Fill(double x) {
  ++entries_;
  if (impl_->automatic) {
    impl_->pending.push_back(x);
  } else {
    impl_->add(x);
  }
}

void Histogram::resolve() const {
  if (!impl_->automatic) return;
  automaticRange(impl_->pending, impl_->low, impl_->high);
  impl_->automatic = false;
  impl_->allocate(nbins_);
  for (double x : impl_->pending) impl_->add(x);
  impl_->pending.clear();
  impl_->pending.shrink_to_fit();
}

double Histogram::low() const {
  resolve();
  return impl_->low;
}

double Histogram::high() const {
  resolve();
  return impl_->high;
}

double Histogram::content(int b) const {
  resolve();
  if (b < 0 || b >= nbins_) throw std::out_of_range("Histogram::content: no such bin");
  return gsl_histogram_get(impl_->bins, static_cast<std::size_t>(b));
}

double Histogram::underflow() const {
  resolve();
  return impl_->underflow;
}

double Histogram::overflow() const {
  resolve();
  return impl_->overflow;
}

}  // namespace tk
