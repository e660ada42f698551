// Catches what the program would show its user, for the unit tests.
#pragma once

#include <string>
#include <vector>

#include "base/text.h"
#include "support/scratch.h"
#include "ui/messages.h"

struct Recorder {
  static std::vector<std::string>& Messages() {
    static std::vector<std::string> messages;
    return messages;
  }
  static int Answer(const char* text) {
    Messages().push_back(text);
    return 1;  // OK
  }
  Recorder() {
    Messages().clear();
    message_hook = Answer;
    settings.verbose = 0;
    settings.silent = 0;
    settings.setup_arguments[0] = '\0';
    settings.show_command = SHOW_NORMAL;
  }
  ~Recorder() {
    message_hook = nullptr;
    settings.silent = 0;
    settings.verbose = 0;
  }
  const std::vector<std::string>& messages() const { return Messages(); }
  std::string last() const { return Messages().empty() ? std::string() : Messages().back(); }
};
