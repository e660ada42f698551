// The stop: the first request wins, and a signal handler may make it.
#include "base/stop.h"

#include <atomic>

static std::atomic<int> stop_code{0};

void RequestStop(int exit_code) {
  int none = 0;
  stop_code.compare_exchange_strong(none, exit_code);
}

int StopRequested() { return stop_code.load(); }

void ClearStop() { stop_code = 0; }

bool Interrupted() { return stop_code.load() >= 128; }
