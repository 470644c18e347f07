#include "browser/BrowserProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

extern char** environ;

namespace vornesk {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// Puts `fd` on exactly `target`, the way exec will hand it on: without
// close-on-exec. Only async-signal-safe calls: this runs between fork and
// exec.
bool MoveFd(int fd, int target) {
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

[[noreturn]] void ChildFailed(int reportFd) {
  const int error = errno;
  [[maybe_unused]] const ssize_t written = write(reportFd, &error, sizeof error);
  _exit(127);
}

void CloseFd(int& fd) noexcept {
  if (fd >= 0) close(fd);
  fd = -1;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// The pids whose parent is this process.
std::vector<pid_t> ChildPids() {
  std::vector<pid_t> children;
  const pid_t self = getpid();
  const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return children;
  while (const dirent* entry = readdir(proc.get())) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    const std::string statPath = std::string("/proc/") + entry->d_name + "/stat";
    const int fd = open(statPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buffer[512];
    const ssize_t length = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (length <= 0) continue;
    buffer[length] = '\0';
    // The command name may hold spaces and parentheses: the fields that
    // follow start after the last ")".
    const char* close = std::strrchr(buffer, ')');
    if (close == nullptr) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(close + 1, " %c %ld", &state, &parent) == 2 && parent == self)
      children.push_back(static_cast<pid_t>(pid));
  }
  return children;
}

}  // namespace

std::string SearchPath(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  std::string path = EnvironmentValue("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    // An empty entry means the current folder.
    const std::string candidate =
        end > start ? path.substr(start, end - start) + "/" + name : "./" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

TBrowserExecutable FindBrowser() {
  const std::string chosen = EnvironmentValue("VORNESK_BROWSER");
  if (!chosen.empty()) {
    const std::string path = SearchPath(chosen);
    if (path.empty())
      throw EBrowserError("The browser \"" + chosen +
                          "\" named by VORNESK_BROWSER was not found or is not executable");
    return {path};
  }
  const char* const shells[] = {"/usr/lib/chromium/chromium-headless-shell",
                                "chromium-headless-shell"};
  for (const char* shell : shells)
    if (std::string path = SearchPath(shell); !path.empty()) return {path};
  const char* const browsers[] = {"/usr/lib/chromium/chromium", "chromium"};
  for (const char* browser : browsers)
    if (std::string path = SearchPath(browser); !path.empty()) return {path};
  throw EBrowserError(
      "No browser found: install chromium-headless-shell, or name one in VORNESK_BROWSER");
}

std::vector<std::string> BrowserArguments(const TBrowserExecutable& executable,
                                          const std::string& profileDir, bool runningAsRoot) {
  std::vector<std::string> arguments = {
      executable.path,
      // The full browser needs it; the headless shell takes it as well.
      "--headless",
      "--remote-debugging-pipe",
      "--user-data-dir=" + profileDir,
      // No machine here has a network to spare: everything that phones home
      // or updates itself is off, and so is everything a first run sets up.
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-breakpad",
      "--disable-crash-reporter",
      "--disable-domain-reliability",
      "--disable-client-side-phishing-detection",
      "--disable-default-apps",
      "--disable-extensions",
      "--disable-features=Translate,MediaRouter,OptimizationHints,AutofillServerCommunication",
      "--metrics-recording-only",
      "--no-first-run",
      "--no-default-browser-check",
      "--no-pings",
      "--password-store=basic",
      "--use-mock-keychain",
      "--mute-audio",
      // Colours reach the image as the page states them, whatever the
      // machine's display profile.
      "--force-color-profile=srgb",
  };
  // Chromium refuses to run its sandbox as root.
  if (runningAsRoot) arguments.push_back("--no-sandbox");
  arguments.push_back("about:blank");
  return arguments;
}

TBrowserProcess::TBrowserProcess(const TBrowserExecutable& executable) {
  try {
    Start(executable);
  } catch (...) {
    Terminate();
    throw;
  }
}

TBrowserProcess::~TBrowserProcess() {
  Terminate();
}

void TBrowserProcess::Start(const TBrowserExecutable& executable) {
  // Processes the browser leaves behind become ours, so that every one of
  // them can be reaped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);

  std::string base = EnvironmentValue("TMPDIR");
  if (base.empty() || access(base.c_str(), W_OK) != 0) base = "/tmp";
  std::string pattern = base + "/vornesk-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw EBrowserError("Cannot create the browser profile in \"" + base +
                        "\": " + SysErrorMessage(errno));
  profileDir_ = pattern;

  // Everything exec needs is built before fork: after it, only
  // async-signal-safe calls are allowed.
  const std::vector<std::string> arguments =
      BrowserArguments(executable, profileDir_, geteuid() == 0);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  // The full browser writes crash reports and caches under HOME; the child
  // gets the profile as its home so that nothing lands outside it.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    if (variable.starts_with("HOME=") || variable.starts_with("XDG_CONFIG_HOME=") ||
        variable.starts_with("XDG_CACHE_HOME=") || variable.starts_with("XDG_DATA_HOME="))
      continue;
    environment.emplace_back(variable);
  }
  environment.push_back("HOME=" + profileDir_);
  environment.push_back("XDG_CONFIG_HOME=" + profileDir_ + "/config");
  environment.push_back("XDG_CACHE_HOME=" + profileDir_ + "/cache");
  environment.push_back("XDG_DATA_HOME=" + profileDir_ + "/data");
  std::vector<char*> envp;
  for (const std::string& variable : environment)
    envp.push_back(const_cast<char*>(variable.c_str()));
  envp.push_back(nullptr);

  int commands[2] = {-1, -1};  // we write [1], the browser reads fd 3
  int events[2] = {-1, -1};    // the browser writes fd 4, we read [0]
  int report[2] = {-1, -1};    // exec failures, closed by a successful exec
  auto closeAll = [&] {
    for (int* pair : {commands, events, report})
      for (int i = 0; i < 2; ++i) CloseFd(pair[i]);
  };
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(events, O_CLOEXEC) != 0 ||
      pipe2(report, O_CLOEXEC) != 0) {
    const int error = errno;
    closeAll();
    throw EBrowserError("Cannot start the browser: " + SysErrorMessage(error));
  }
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);

  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // The child: its own process group, killed with its parent.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &defaults, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Out of the way of 0 to 4 before they are filled.
    const int readEnd = fcntl(commands[0], F_DUPFD_CLOEXEC, 10);
    const int writeEnd = fcntl(events[1], F_DUPFD_CLOEXEC, 10);
    if (readEnd < 0 || writeEnd < 0) ChildFailed(report[1]);
    if (devNull >= 0) {
      dup2(devNull, 0);
      dup2(devNull, 1);
      dup2(devNull, 2);
    }
    if (!MoveFd(readEnd, 3) || !MoveFd(writeEnd, 4)) ChildFailed(report[1]);
    execve(argv[0], argv.data(), envp.data());
    ChildFailed(report[1]);
  }
  const int forkError = errno;
  if (pid > 0) setpgid(pid, pid);  // also here, so that it holds before either side goes on
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (devNull >= 0) close(devNull);
  if (pid < 0) {
    closeAll();
    throw EBrowserError("Cannot start the browser: " + SysErrorMessage(forkError));
  }
  pid_ = pid;
  CloseFd(commands[0]);
  CloseFd(events[1]);
  CloseFd(report[1]);
  commandFd_ = commands[1];
  eventFd_ = events[0];
  commands[1] = events[0] = -1;

  int childError = 0;
  ssize_t got;
  do got = read(report[0], &childError, sizeof childError);
  while (got < 0 && errno == EINTR);
  CloseFd(report[0]);
  if (got == static_cast<ssize_t>(sizeof childError))
    throw EBrowserError("Cannot start the browser \"" + executable.path +
                        "\": " + SysErrorMessage(childError));

  fcntl(eventFd_, F_SETFL, fcntl(eventFd_, F_GETFL) | O_NONBLOCK);
}

void TBrowserProcess::CloseFds() noexcept {
  CloseFd(commandFd_);
  CloseFd(eventFd_);
}

void TBrowserProcess::Terminate() noexcept {
  CloseFds();
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    // Reap the browser, then whatever it started: those become our children
    // as their parents die. A process that left the group is found by its
    // parent and killed too. Bounded, so that teardown cannot hang.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t reaped = waitpid(-1, &status, WNOHANG);
      if (reaped > 0) continue;
      if (reaped < 0 && errno == ECHILD) break;
      if (reaped < 0 && errno == EINTR) continue;
      for (const pid_t child : ChildPids()) kill(child, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
  }
  if (!profileDir_.empty()) {
    RemoveTree(profileDir_);
    profileDir_.clear();
  }
}

void RemoveTree(const std::string& path) noexcept {
  nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace vornesk
