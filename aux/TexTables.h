// LaTeX tables people compare down a column: results.tex of a run and the
// campaign table of the report (campaign.tex). Each quantity's header carries
// one power of ten for its whole column ("rho [10^9 Ohm cm]"), each cell one
// value +- its error on one line, rounded to the error. A table is cut into
// parts that fit a standard article page at \small: at most three quantities
// side by side (one a part when LaTeX finds even that too wide) and at most
// kTexRowsPerPart rows a part. The text needs no package: \input in a bare
// article document compiles with pdflatex.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "aux/ResultsTable.h"

// Rows a part holds at most: a part is a tabular, which never breaks across pages.
inline constexpr std::size_t kTexRowsPerPart = 40;

// A quantity column: its symbol and unit in LaTeX ("$\\rho$", "$\\Omega\\,$cm").
struct TexQuantity {
  std::string symbol;
  std::string unit;
};

// One row: its leading text cells (LaTeX already) and a value per quantity;
// without values, `note` (LaTeX) spans the quantity columns. A row with a
// `group` starts with a bold line spanning the table (a gap's or scan's name).
struct TexRow {
  std::string group;
  std::vector<std::string> text;
  std::vector<Measured> values;
  std::vector<bool> marked;  // per value: a dagger, explained by TexTable::markNote
  std::string note;
};

struct TexTable {
  std::string title;                     // LaTeX, above the first part
  std::vector<std::string> textHeaders;  // one per leading text cell
  std::vector<TexQuantity> quantities;
  std::vector<TexRow> rows;
  std::string markNote;  // LaTeX, below a part that marks a value
};

// The power of ten, a multiple of three, that a column of these values is
// written in, from their median magnitude: 0 while that lies in [1e-2, 1e4).
int columnExponent(const std::vector<Measured>& cells);

// The table as LaTeX text (no trailing page break); "" without rows.
std::string texTable(const TexTable& table);

// results.tex: a table per scan, every gap with the window search and the knee
// fit (resistivity, resistance, resistance x area, offset, onset, each with its
// error), a method without a result showing its status; a resistance from an
// unknown area is marked.
std::string resultsTex(const std::vector<ResultsRow>& rows);

// campaign.tex: one row per gap of every scan, in the order given, with its
// verdict (`verdicts`, one per row, plain text) and the knee fit's resistivity,
// resistivity at the reference temperature and onset; the scan's name heads its
// rows.
std::string campaignTex(const std::vector<ResultsRow>& rows, const std::vector<std::string>& verdicts);
