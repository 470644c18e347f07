// SIGINT, SIGTERM and SIGHUP as events of the program's event loop: the
// handler only writes the signal's number into a pipe, and the loop reads it
// and ends the run in order (browser closed, processes reaped, profile
// removed).
#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace vornesk {

class TSignalPipe {
 public:
  explicit TSignalPipe(std::function<void(int signal)> onSignal);
  ~TSignalPipe();

  TSignalPipe(const TSignalPipe&) = delete;
  TSignalPipe& operator=(const TSignalPipe&) = delete;

 private:
  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace vornesk
