// The browser engine as a child process: found on the system, started with
// the DevTools pipe on fds 3 and 4 and a private profile, and torn down with
// every process it started.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/Exceptions.h"

namespace vornesk {

// A browser that cannot be found, started or talked to, or that died.
class EBrowserError : public Exception {
 public:
  using Exception::Exception;
};

struct TBrowserExecutable {
  std::string path;
};

// VORNESK_BROWSER when set, else the headless shell, else the full browser.
// The Debian wrappers in /usr/bin are skipped in favour of the programs they
// start: the chromium wrapper adds flags of its own.
TBrowserExecutable FindBrowser();

// The program named by `name`: itself when it contains a "/", else the first
// executable of that name on PATH; empty when there is none.
std::string SearchPath(const std::string& name);

// The switches that make one quiet, private, offline-friendly run.
std::vector<std::string> BrowserArguments(const TBrowserExecutable& executable,
                                          const std::string& profileDir, bool runningAsRoot);

class TBrowserProcess {
 public:
  // Starts the browser; raises EBrowserError when it cannot be started.
  explicit TBrowserProcess(const TBrowserExecutable& executable);
  // Terminate().
  ~TBrowserProcess();

  TBrowserProcess(const TBrowserProcess&) = delete;
  TBrowserProcess& operator=(const TBrowserProcess&) = delete;

  // The pipe ends of this side: commands go to CommandFd (the browser's
  // fd 3), replies and events come from EventFd (its fd 4, non-blocking).
  int CommandFd() const { return commandFd_; }
  int EventFd() const { return eventFd_; }
  pid_t Pid() const { return pid_; }
  const std::string& ProfileDir() const { return profileDir_; }

  // Kills the browser's process group, reaps every process it started and
  // removes the profile. Safe to call more than once.
  void Terminate() noexcept;

 private:
  void Start(const TBrowserExecutable& executable);
  void CloseFds() noexcept;

  pid_t pid_ = -1;
  int commandFd_ = -1;
  int eventFd_ = -1;
  std::string profileDir_;
};

// Removes a directory tree without following symbolic links.
void RemoveTree(const std::string& path) noexcept;

}  // namespace vornesk
