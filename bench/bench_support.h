// Shared by the benchmarks.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

// The codec prints its statistics to standard output for every file; the
// table must not drown in them.
struct QuietStdout {
  int saved;
  QuietStdout() {
    fflush(stdout);
    saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietStdout() {
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
};
