#include "app/Signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace vornesk {

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = write(signalPipe[1], &number, 1);
  errno = saved;
}

// SIGHUP too: a closed terminal must not leave the browser's profile behind.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The dispositions found at start-up, given back at the end.
struct sigaction previous[std::size(kSignals)];

}  // namespace

TSignalPipe::TSignalPipe(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    sigaction(kSignals[i], nullptr, &previous[i]);
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    unsigned char number = 0;
    while (read(signalPipe[0], &number, 1) == 1)
      if (onSignal_) onSignal_(number);
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A signal that whoever started us ignores (nohup, a script's background
  // job) stays ignored.
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    if (previous[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
}

TSignalPipe::~TSignalPipe() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i)
    sigaction(kSignals[i], &previous[i], nullptr);
  notifier_.reset();
  for (int& fd : signalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

}  // namespace vornesk
