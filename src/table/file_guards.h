// Small guards for writing files safely, shared by every layer that writes
// one: a descriptor closed on every way out, a write that either writes
// every byte or says it did not, and a hold on the signals that end the
// program while a new file is made and renamed over an old one.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <string_view>
#include "table/file_io.h"

namespace kora {

struct UniqueFd {
  int fd = -1;
  explicit UniqueFd(int value) : fd(value) {}
  ~UniqueFd() {
    if (fd >= 0) close(fd);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  // Closes now, so that a failure of the close (a late write error) is seen.
  bool close_checked() {
    int value = fd;
    fd = -1;
    return value >= 0 && close(value) == 0;
  }
};

inline bool write_all(int fd, std::string_view bytes) { return file_write(fd, bytes); }

// Holds back the signals that end the program (the terminal closed, kill,
// Ctrl+C) while a new file is made and renamed over the old one, so that
// they take effect after it and never leave the half-made file lying beside it.
struct HoldEndSignals {
  sigset_t old_mask;
  HoldEndSignals() {
    sigset_t mask;
    sigemptyset(&mask);
    for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) sigaddset(&mask, sig);
    sigprocmask(SIG_BLOCK, &mask, &old_mask);
  }
  ~HoldEndSignals() { sigprocmask(SIG_SETMASK, &old_mask, nullptr); }
  HoldEndSignals(const HoldEndSignals&) = delete;
  HoldEndSignals& operator=(const HoldEndSignals&) = delete;
};

}  // namespace kora
