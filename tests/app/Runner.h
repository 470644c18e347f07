// Runs the built vornesk as a user would: its own arguments, environment and
// current directory, standard output and error collected, and a time limit
// so that a hang fails the test instead of blocking the run.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vornesk::testing {

struct RunResult {
  int exitCode = -1;  // -1 when it did not exit by itself
  std::string out;
  std::string err;
  bool timedOut = false;
};

struct RunOptions {
  std::string directory;  // the current directory
  // Variables to set; an empty optional removes the variable.
  std::map<std::string, std::optional<std::string>> environment;
  std::chrono::seconds limit{60};
  // Called once the process runs, with its pid.
  std::function<void(pid_t)> whileRunning;
  // Signals the process starts with ignored, as nohup leaves them.
  std::vector<int> ignored;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Processes whose parent is this test program.
inline std::vector<pid_t> ChildProcesses() {
  std::vector<pid_t> found;
  const std::string self = std::to_string(getpid());
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ReadText(entry.path().string() + "/stat");
    // The command name may hold spaces and parentheses.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    std::string state, parent;
    fields >> state >> parent;
    if (parent == self) found.push_back(std::stoi(name));
  }
  return found;
}

inline RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const RunOptions& options) {
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argvStrings) argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable(*entry);
    const auto equals = variable.find('=');
    if (equals != std::string::npos)
      variables[variable.substr(0, equals)] = variable.substr(equals + 1);
  }
  for (const auto& [name, value] : options.environment) {
    if (value)
      variables[name] = *value;
    else
      variables.erase(name);
  }
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : variables) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& variable : envStrings) envp.push_back(variable.data());
  envp.push_back(nullptr);

  const std::string outPath = options.directory + "/../stdout.txt";
  const std::string errPath = options.directory + "/../stderr.txt";
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(options.directory.c_str()) != 0) _exit(126);
    // The program starts with the signal dispositions the test asks for,
    // whatever the test run itself was started with (nohup, in the
    // background).
    for (int signal = 1; signal < NSIG; ++signal) ::signal(signal, SIG_DFL);
    for (const int signal : options.ignored) ::signal(signal, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in);
  close(out);
  close(err);

  RunResult result;
  if (options.whileRunning) options.whileRunning(pid);
  const auto deadline = std::chrono::steady_clock::now() + options.limit;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadText(outPath);
  result.err = ReadText(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return result;
}

}  // namespace vornesk::testing
