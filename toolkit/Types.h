// The basic numeric types the analysis code is written in (32-bit signed integers,
// doubles, booleans), under the names its users know from the physics toolkit.
#pragma once

#include <cstdint>

using Int_t = std::int32_t;
using Double_t = double;
using Bool_t = bool;
