#include "app/Signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

TSignalPipe::TSignalPipe(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
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
  for (const int signal : kSignals) sigaction(signal, &action, nullptr);
}

TSignalPipe::~TSignalPipe() {
  for (const int signal : kSignals) ::signal(signal, SIG_DFL);
  notifier_.reset();
  for (int& fd : signalPipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

}  // namespace vornesk
