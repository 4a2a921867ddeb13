#include "tools/gapohm.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "aux/Drawing.h"
#include "aux/GapAreas.h"
#include "aux/GapRules.h"
#include "aux/OutputPlaces.h"
#include "aux/ScanInput.h"
#include "toolkit/Look.h"
#include "tools/Report.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// ------------------------------------------------------------------ catalogue

struct CatalogueStyle {
  int color;
  int marker;
};
// Colour tells the chamber, marker the gap type (bottom 8, top-narrow 33, top-wide 22).
constexpr CatalogueStyle kCatalogueStyles[] = {{3, 8}, {7, 8},  {4, 8},  {4, 33},
                                               {4, 22}, {2, 8}, {2, 22}, {2, 33}};

// Looks up a catalogued style field; the last catalogued name the gap name
// contains decides.
int catalogueStyle(const std::string& chambername, int fallback, int CatalogueStyle::*field) {
  std::vector<std::string> chambersname;
  init_chambersnames(chambersname);
  int value = fallback;
  for (std::size_t k = 0; k < chambersname.size(); ++k) {
    if (contains(chambername, chambersname[k])) value = kCatalogueStyles[k].*field;
  }
  return value;
}

// Index of each gap name, for matching a line to its own gap only.
std::map<std::string, int> gapIndexByName(const ChamberIndexList& ChamberIndex) {
  std::map<std::string, int> index;
  for (const auto& [name, k] : ChamberIndex) index.emplace(name, k);
  return index;
}

// The Entries.csv text from the measurements of a scan.
std::string entriesText(const std::vector<Measurement>& measurements,
                        const ChamberIndexList& ChamberIndex);


std::ostream& printPair(std::ostream& out, double value, double error) {
  return out << value << " \\pm " << error;
}

}  // namespace

// ==================================================================== catalogue

void init_chambersnames(std::vector<std::string>& chambersname) {
  chambersname = {"KODEL-HXD-RE4-3-B002", "KODEL-HXD-RE4-3-B009", "RE3-PK-154-BOTTOM",
                  "RE3-PK-154-TOPNARROW", "RE3-PK-154-TOPWIDE",   "RE3-PK-065-BOTTOM",
                  "RE3-PK-065-TOPWIDE",   "RE3-PK-065-TOPNARROW"};
}

double getarea(const std::string& chambername) { return gapTypeArea(gapTypeOf(chambername)); }

double getareafactor(const std::string& chambername) {
  const GapType type = gapTypeOf(chambername, BottomWords::withUnderscoreBot);
  return type == GapType::unknown ? 1.0 : 1000.0 / gapTypeArea(type);
}

// A gap outside the catalogue is drawn in colour position + 1, or, where that is
// (near) white (10, 18, 19), the next colour of the sequence that shows.
int getcolor(const std::string& chambername, Int_t i) {
  int colour = i + 1;
  while (tk::nearWhite(colour)) ++colour;
  return catalogueStyle(chambername, colour, &CatalogueStyle::color);
}

int getmarker(const std::string& chambername, Int_t i) {
  return catalogueStyle(chambername, i + 19, &CatalogueStyle::marker);
}

void init_plotprofile(std::vector<plotprofile>& plottingprofile, ChamberIndexList ChamberIndex) {
  for (std::size_t i = 0; i < ChamberIndex.size(); ++i) {
    plotprofile profile;
    profile.chambername = ChamberIndex[i].first;
    profile.color = getcolor(profile.chambername, static_cast<Int_t>(i));
    profile.marker = getmarker(profile.chambername, static_cast<Int_t>(i));
    plottingprofile.push_back(profile);
  }
}

// =================================================================== run driver

void printINFO(const std::string& filename, std::ostream& out) {
  out << "INFO :: gapohm : printINFO " << std::string(29, '#') << std::endl;
  out << "INFO :: processing files : " << std::endl;
  out << "INFO :: \t " << escapeControls(filename) << std::endl;
  out << "INFO :: " << std::string(56, '#') << std::endl;
}

// ====================================================================== reports

void ResistanceReport::Open() {
  text = " GAP, Resistivity [Ohm*cm] , Resistance [Ohm] , Resistance*Area [Ohm*cm2], Offset "
         "[nA/cm2], Onset [V] \n";
}

void ResistanceReport::AddGap(const std::string& name, const GapValues& v) {
  std::ostringstream line;
  line << name << " , " << v.resistivity << " , " << v.resistance << " , " << v.resistanceArea
       << " , " << v.offset << " , " << v.onset << "\n";
  line << latexEscape(name) << " &, ";
  printPair(line, v.resistivity, v.resistivityError) << " &, ";
  printPair(line, v.resistance, v.resistanceError) << " &,";
  printPair(line, v.resistanceArea, v.resistanceAreaError) << " &, ";
  printPair(line, v.offset, v.offsetError) << " &, ";
  printPair(line, v.onset, v.onsetError) << " \\\\ \n";
  text += line.str();
}

tk::Status ResistanceReport::Save(const std::string& path) const {
  std::string error;
  return writeFileAtomically(path, text, error) ? tk::Status::OK() : tk::Status::IOError(error);
}

void CheckingEntries(int ChamberEntryStep1argon, int ChamberEntryStep2argon,
                     int ChamberEntryStep3argon, int ChamberEntryStep1, int ChamberEntryStep2,
                     int ChamberEntryStep3, std::vector<std::string>& status) {
  // Planned measurements per step: argon scans 14, 31, 20; standard scans 8, 1, 11.
  const int counts[] = {ChamberEntryStep1argon, ChamberEntryStep2argon, ChamberEntryStep3argon,
                        ChamberEntryStep1,      ChamberEntryStep2,      ChamberEntryStep3};
  const int planned[] = {14, 31, 20, 8, 1, 11};
  status.clear();
  for (std::size_t k = 0; k < 6; ++k) status.emplace_back(counts[k] == planned[k] ? "OK" : "NOT OK");
}

namespace {

std::string entriesText(const std::vector<Measurement>& measurements,
                        const ChamberIndexList& ChamberIndex) {
  // Step edges, in volts of effective HV as read.
  constexpr double step1 = 8000.0;
  constexpr double step2 = 9000.0;
  constexpr double step1argon = 1700.0;
  constexpr double step2argon = 2000.0;
  struct Counts {
    int standard[3] = {0, 0, 0};
    int argon[3] = {0, 0, 0};
  };
  std::vector<Counts> counts(ChamberIndex.size());
  const std::map<std::string, int> index = gapIndexByName(ChamberIndex);
  for (const Measurement& m : measurements) {
    const auto gap = index.find(m.chambern);
    if (gap == index.end()) continue;
    Counts& c = counts[static_cast<std::size_t>(gap->second)];
    // 8000 V belongs to step 1 and 9000 V to step 2, as the argon edges do.
    ++c.standard[m.HVeff <= step1 ? 0 : m.HVeff <= step2 ? 1 : 2];
    ++c.argon[m.HVeff <= step1argon ? 0 : m.HVeff <= step2argon ? 1 : 2];
  }
  std::ostringstream report;
  report << "Chamber Name, Number of Entries Step1,15/8,Number of Entries Step2,30/2,Number of "
            "Entries Step3,20/10 \n";
  std::vector<std::string> status;
  for (std::size_t p = 0; p < ChamberIndex.size(); ++p) {
    const Counts& c = counts[p];
    CheckingEntries(c.argon[0], c.argon[1], c.argon[2], c.standard[0], c.standard[1],
                    c.standard[2], status);
    const bool argon = c.argon[0] > 2 && c.standard[0] > 8;
    const int* shown = argon ? c.argon : c.standard;
    const std::size_t first = argon ? 0 : 3;
    report << ChamberIndex[p].first;
    for (std::size_t s = 0; s < 3; ++s) report << " , " << shown[s] << " , " << status[first + s];
    report << "\n";
  }
  return report.str();
}

}  // namespace

tk::Status writeEntries(const RunOutcome& run, const OutputPlace& place, tk::Console& console,
                        tk::Failures& failures) {
  const std::string text = entriesText(run.reading.measurements, run.gapList);
  std::string error;
  if (!writeFileAtomically(getPathToSave(run.file, place, console, failures) + "Entries.csv", text, error)) {
    return tk::Status::IOError(error);
  }
  return tk::Status::OK();
}

bool ValidatingStepsHVscan(const std::string& file, ChamberIndexList ChamberIndex,
                           const OutputPlace& place, tk::Console& console) {
  // The lines are not warned about here: the run that reads the scan does.
  std::ifstream in(file, std::ios::binary);
  tk::Failures failures;
  if (!in) console.error(tk::Status::IOError("cannot open scan file " + file + ": " + std::strerror(errno)), failures);
  RunOutcome run;
  run.file = file;
  run.gapList = std::move(ChamberIndex);
  run.reading = readScan(in);
  const tk::Status written = writeEntries(run, place, console, failures);
  if (!written.ok()) console.error(written, failures);
  return !failures.any();
}
