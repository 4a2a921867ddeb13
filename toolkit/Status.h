// Whether an operation succeeded, as a value: what failed and why. Functions
// that can fail return a Status (or add it to the Failures they are handed)
// instead of printing; whoever owns the run decides what to tell and how it
// ends. Modelled on LevelDB's Status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tk {

class Status {
 public:
  // Success.
  Status() = default;
  static Status OK() { return Status(); }
  // A file or device could not be read or written.
  static Status IOError(std::string message) { return Status(Code::ioError, std::move(message)); }
  // The input is not what it must be (a scan, a results table, a limits file).
  static Status Corruption(std::string message) { return Status(Code::corruption, std::move(message)); }
  // What the program was asked to do cannot be done as asked.
  static Status InvalidArgument(std::string message) {
    return Status(Code::invalidArgument, std::move(message));
  }

  bool ok() const { return code_ == Code::ok; }
  bool IsIOError() const { return code_ == Code::ioError; }
  bool IsCorruption() const { return code_ == Code::corruption; }
  bool IsInvalidArgument() const { return code_ == Code::invalidArgument; }
  // What went wrong, for people ("" for success).
  const std::string& message() const { return message_; }

 private:
  enum class Code { ok, ioError, corruption, invalidArgument };
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}
  Code code_ = Code::ok;
  std::string message_;
};

// The failures of one run, in the order they happened: its exit status and, for
// a scan of a batch, the reason the batch gives come from here, never from what
// was printed. Owned by the run; handed to whatever may fail.
class Failures {
 public:
  // Keeps `status` when it is a failure; returns it.
  const Status& add(const Status& status) {
    if (!status.ok()) all_.push_back(status);
    return status;
  }
  bool any() const { return !all_.empty(); }
  const std::vector<Status>& all() const { return all_; }

 private:
  std::vector<Status> all_;
};

}  // namespace tk
