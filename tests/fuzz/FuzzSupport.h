// Helpers shared by the fuzz targets.
#pragma once

#include <cstdlib>
#include <streambuf>

namespace fuzzsupport {

// Stops the fuzzer at a broken invariant, keeping the input that broke it.
inline void require(bool condition) {
  if (!condition) std::abort();
}

// A stream buffer that drops everything: the log lines are not under test.
struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
};

}  // namespace fuzzsupport
