// Thumbnails of the figures the campaign report shows: a small PNG per gap,
// box-filtered down from the run's own figure, so that a page over hundreds of
// gaps stays light to open.
#pragma once

#include <string>

// Reads `figure` (a PNG file) and writes `thumb`, a PNG at most maxWidth pixels
// wide (box-filtered down by a whole factor, aspect kept; never enlarged),
// through a temporary file in thumb's directory (tk::createTempFile: never a file
// a link points at, removed if the process is stopped, mode 0666 less the umask).
// The figure is never read through a link, nor when it is not a regular file.
// False with the reason in `error` ("figure: what", or "cannot write thumb:
// why"); no thumb is left then. Figures over 100 million pixels are refused.
bool writeThumbnail(const std::string& figure, const std::string& thumb, int maxWidth, std::string& error);
