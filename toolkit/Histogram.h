// One-dimensional histogram of counts over equal bins, with underflow and overflow,
// for the diagnostic figures of the fit scan.
//
// Bins are half-open [low, up): a value equal to the upper edge, or NaN, goes to
// the overflow; a value below the lower edge to the underflow. A histogram built
// with lower edge >= upper edge (or an edge that is not finite) takes its range
// from the data it is filled with, decided when the range or a content is first
// asked for (fills are kept until then): the finite data's span (min - 1 to
// max + 1 for a single value) widened by 10% each side, the lower end clamped to
// 0 for non-negative data, rounded outwards to multiples of the axis-tick step
// (1, 2 or 5 x 10^k); the number of bins is kept.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tk {

class Histogram {
 public:
  // nbins must be >= 1.
  Histogram(std::string name, std::string title, int nbins, double low, double high);
  ~Histogram();
  Histogram(const Histogram& other);
  Histogram& operator=(const Histogram& other);
  Histogram(Histogram&&) noexcept;
  Histogram& operator=(Histogram&&) noexcept;

  // Adds one entry of weight 1 at x.
  void Fill(double x);

  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  int bins() const { return nbins_; }
  // Range edges; for an automatic range, the range chosen from the data.
  double low() const;
  double high() const;
  // Content of bin b, 0 <= b < bins().
  double content(int b) const;
  double underflow() const;
  double overflow() const;
  // Number of Fill calls.
  long entries() const { return entries_; }

 private:
  void resolve() const;  // fixes an automatic range from the buffered fills

  std::string name_;
  std::string title_;
  int nbins_;
  long entries_ = 0;
  struct Impl;
  mutable std::unique_ptr<Impl> impl_;
};

}  // namespace tk
