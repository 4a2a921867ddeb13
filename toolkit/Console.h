// Where a run's progress lines and its error messages go, and whether any error
// happened. Every function that reports passes through one Console handed to it,
// so tests capture the exact bytes and the run's exit status follows its errors.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tk {

class Console {
 public:
  // Both streams must outlive the Console.
  Console(std::ostream& out, std::ostream& err) : out(out), err(err) {}

  // Progress lines ("INFO :: ..."); callers end each line with std::endl (flushed).
  std::ostream& out;
  // Error and warning messages.
  std::ostream& err;

  // Writes "gapohm: error: <message>" to err, marks the run as failed and keeps
  // the message, so that what went wrong can be told on without reading err.
  void error(const std::string& message) {
    err << "gapohm: error: " << message << std::endl;
    errors_.push_back(message);
  }
  // Writes "gapohm: warning: <message>" to err; the run's status is unchanged.
  void warning(const std::string& message) { err << "gapohm: warning: " << message << std::endl; }

  // True once error() has been called.
  bool failed() const { return !errors_.empty(); }
  // Every error() message so far, in order, without the prefix.
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  std::vector<std::string> errors_;
};

}  // namespace tk
