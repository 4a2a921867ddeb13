// What a piece of work (a figure, its diagnostics) has to say, kept as values in
// the order it was said until the run's one printer (tk::Console::print) writes
// it. Work that takes a Log prints nothing itself: a figure can be made without
// anyone listening, and a quiet run or another log format changes only the printer.
#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/Status.h"

namespace tk {

struct Message {
  enum class Kind { Progress, Warning, Error };
  Kind kind = Kind::Progress;
  std::string text;  // progress: the bytes as written (line ends included); else the message
  Status failure;    // Error only
};

class Log {
 public:
  // Progress lines, written as to a stream (callers end each line with std::endl).
  std::ostream& out() { return pending_; }
  void warning(std::string message) { add({Message::Kind::Warning, std::move(message), Status::OK()}); }
  void error(const Status& failure) { add({Message::Kind::Error, failure.message(), failure}); }

  // Everything said so far, in order; leaves the log empty.
  std::vector<Message> take() {
    settle();
    std::vector<Message> said;
    said.swap(messages_);
    return said;
  }
  // Whether any error has been said and not yet taken.
  bool failed() {
    settle();
    for (const Message& m : messages_) {
      if (m.kind == Message::Kind::Error) return true;
    }
    return false;
  }

 private:
  void add(Message message) {
    settle();
    messages_.push_back(std::move(message));
  }
  // Progress text written since the last message becomes one message of its own,
  // so it keeps its place before what is said next.
  void settle() {
    std::string text = pending_.str();
    if (text.empty()) return;
    messages_.push_back({Message::Kind::Progress, std::move(text), Status::OK()});
    pending_.str("");
  }

  std::ostringstream pending_;
  std::vector<Message> messages_;
};

}  // namespace tk
