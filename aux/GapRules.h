// What a gap is, from its name and its geometry: the one place for the gap type a
// name tells, the active area of each type, the electrode gap and the conversions
// from a resistivity to the resistance and resistance x area of a gap. The run,
// its reports, the figures and the campaign page all ask here.
#pragma once

#include <string>

// Electrode gap of the chambers, in cm: resistivity = 1e9 / (slope x gap), the
// slope in nA/cm^2 per V, and resistance x area = resistivity x gap.
inline constexpr double kGapLength = 0.4;

// The gap types of the production chambers, told by a word in the gap's name.
enum class GapType { unknown, bottom, topNarrow, topWide };

// Which words mark a bottom gap: "-B" and "-BOTTOM" everywhere; the step-validation
// report's area factor also takes "_BOT", as its old scans were named.
enum class BottomWords { plain, withUnderscoreBot };

// The type a gap's name tells: "-B" or "-BOTTOM" bottom, "TOPNARROW" top-narrow,
// "TOPWIDE" top-wide (the last matching test decides), else unknown.
GapType gapTypeOf(const std::string& name, BottomWords words = BottomWords::plain);

// "bottom", "top-narrow", "top-wide"; "" for unknown.
const char* gapTypeWord(GapType type);

// Active area of a gap type in cm^2: bottom 19660, top-narrow 5550, top-wide
// 13130; 1 for an unknown type (values then per cm^2).
double gapTypeArea(GapType type);

// R = rho x gap / area (Ohm from Ohm cm and cm^2); the same for its error.
double resistanceOf(double resistivity, double area);
// R x A = rho x gap (Ohm cm^2 from Ohm cm).
double resistanceAreaOf(double resistivity);
