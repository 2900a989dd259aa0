#include "interactive_engine.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace korvane::testing {

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

InteractiveEngine::InteractiveEngine(const std::vector<std::string>& args, const std::string& workingDir,
                                     const std::string& binary) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
  signal(SIGPIPE, SIG_IGN);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
}

InteractiveEngine::~InteractiveEngine() {
  if (exitCode_ == -2) finish(10000);
  if (out_ >= 0) close(out_);
}

void InteractiveEngine::send(const std::string& line) {
  if (in_ < 0) return;
  const std::string text = line + "\n";
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t k = write(in_, text.data() + written, text.size() - written);
    if (k <= 0) return;
    written += std::size_t(k);
  }
}

bool InteractiveEngine::readUntil(const std::function<bool(const std::string&)>& done, int timeoutMs,
                                  std::string* last) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::size_t end;
    while ((end = buffer_.find('\n')) != std::string::npos) {
      std::string line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      seen.push_back(line);
      if (done(line)) {
        if (last) *last = line;
        return true;
      }
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || out_ < 0) return false;
    pollfd fd{out_, POLLIN, 0};
    if (poll(&fd, 1, int(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t k = read(out_, chunk, sizeof chunk);
    if (k <= 0) {
      close(out_);
      out_ = -1;
      return false;
    }
    buffer_.append(chunk, std::size_t(k));
  }
}

std::vector<std::string> InteractiveEngine::drain(int ms) {
  const std::size_t before = seen.size();
  readUntil([](const std::string&) { return false; }, ms);
  return std::vector<std::string>(seen.begin() + std::ptrdiff_t(before), seen.end());
}

int InteractiveEngine::waitExit(int timeoutMs) {
  if (pid_ <= 0) return -1;
  int status = 0;
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) return exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

int InteractiveEngine::finish(int timeoutMs) {
  if (in_ >= 0) {
    close(in_);
    in_ = -1;
  }
  if (exitCode_ != -2) return exitCode_;
  if (pid_ <= 0) return exitCode_ = -1;
  const int code = waitExit(timeoutMs);
  if (exitCode_ != -2) return code;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  return exitCode_ = -1;
}

}  // namespace korvane::testing
