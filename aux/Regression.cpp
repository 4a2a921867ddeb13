// Straight-line and constant-level fits, goodness tests, fit-scan histograms.
#include "aux/Regression.h"
