// Where a run's progress lines and its messages go: the one printer. Every
// function that reports passes through one Console handed to it, so tests
// capture the exact bytes. Whether the run failed is not kept here but in the
// run's Failures (toolkit/Status.h), which error() adds to.
// A quiet Console drops the progress lines here, in one place: the code that
// writes them does not ask whether anyone listens.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "toolkit/Log.h"
#include "toolkit/Status.h"

namespace tk {

// The text with control bytes (and DEL) written as \xNN, whole: so that no name
// (of a scan, a gap, a file) can move the cursor, recolour or split a line of a
// terminal or a log.
inline std::string escapeControls(const std::string& text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else {
      out += byte;
    }
  }
  return out;
}

class Console {
  // Accepts every byte and keeps none: the progress stream of a quiet run.
  struct Discard : std::streambuf {
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  Discard discard_;
  std::ostream silent_{&discard_};

 public:
  // Both streams must outlive the Console. quiet: the progress lines (out) go
  // nowhere; the closing line (result), warnings and errors are written still.
  Console(std::ostream& out, std::ostream& err, bool quiet = false)
      : out(quiet ? silent_ : out), err(err), result_(out) {}
  // `out` may refer to this Console's own silent stream: never copied.
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Progress lines ("INFO :: ..."); callers end each line with std::endl (flushed).
  std::ostream& out;
  // Error and warning messages.
  std::ostream& err;

  // Writes the run's closing line (what came of it, where its outputs are) and a
  // line end to the real standard output, quiet or not; control bytes escaped.
  void result(const std::string& line) { result_ << escapeControls(line) << std::endl; }

  // Writes "gapohm: error: <message>" to err (one line: control bytes escaped)
  // and adds the failure to the run's `failures`, which decide how the run ends:
  // an error is never only printed.
  void error(const Status& failure, Failures& failures) {
    err << "gapohm: error: " << escapeControls(failure.message()) << std::endl;
    failures.add(failure);
  }
  // Writes "gapohm: warning: <message>" to err (one line: control bytes
  // escaped); the run's status is unchanged.
  void warning(const std::string& message) { err << "gapohm: warning: " << escapeControls(message) << std::endl; }

  // Prints what `log` has said, in order, as the lines above; its errors join
  // `failures`. Leaves the log empty.
  void print(Log& log, Failures& failures) {
    for (const Message& m : log.take()) {
      switch (m.kind) {
        case Message::Kind::Progress: out << m.text << std::flush; break;
        case Message::Kind::Warning: warning(m.text); break;
        case Message::Kind::Error: error(m.failure, failures); break;
      }
    }
  }

 private:
  std::ostream& result_;
};

}  // namespace tk
