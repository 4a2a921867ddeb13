// Figure style set-up, combined figure, per-gap figure and ohmic-region search.
#include "aux/Drawing.h"

#include "aux/Regression.h"

// ===================================================================== figures
// (figure style set-up, DrawingVectorTogether, PlottingEachAndDoLinearFit)

// ============================================================ ohmic-region search
// (searchOhmicRegion)
