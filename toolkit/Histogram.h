// One-dimensional histogram of counts over equal bins, with underflow and overflow,
// for the diagnostic figures of the fit scan.
//
// Bins are half-open [low, up): a value equal to the upper edge, or NaN, goes to
// the overflow; a value below the lower edge to the underflow. A histogram built
// with lower edge >= upper edge takes its range from the data it is filled with,
// decided when the range is first asked for (fills are kept until then); the
// number of bins is kept.
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
