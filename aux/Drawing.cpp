// Figure style set-up, combined figure, per-gap figure and ohmic-region search.
#include "aux/Drawing.h"
