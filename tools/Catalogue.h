// The catalogue of the production gaps: their names, the areas their types
// have (from the one gap-type rule of aux/GapRules.h) and the colour and marker
// each is drawn with. Defined in tools/gapohm.cpp.
#pragma once

#include <string>
#include <vector>

#include "aux/Drawing.h"
#include "aux/ScanInput.h"
#include "toolkit/Types.h"

// Empties chambersname and fills it with the eight catalogued gap names.
void init_chambersnames(std::vector<std::string>& chambersname);

// Active area in cm^2 of the gap's type, recognised by substring: bottom ("-B",
// "-BOTTOM") 19660, top-narrow ("TOPNARROW") 5550, top-wide ("TOPWIDE") 13130,
// else 1. The last matching test decides.
double getarea(const std::string& chambername);
// 1000 / area for the same types ("_BOT" also marks a bottom gap); 1 otherwise.
double getareafactor(const std::string& chambername);
// Marker colour and style: the catalogue's for a name containing a catalogued
// name (the last one that matches), else i + 1 and i + 19 (i: gap-list position).
int getcolor(const std::string& chambername, Int_t i);
int getmarker(const std::string& chambername, Int_t i);
// Appends one profile per gap-list entry, in list order.
void init_plotprofile(std::vector<plotprofile>& plottingprofile, ChamberIndexList ChamberIndex);
