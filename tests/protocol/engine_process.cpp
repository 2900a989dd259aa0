#include "engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace korvane::testing {

namespace {

// Starts `binary` with pipes for standard input and output (their parent
// ends are returned) and standard error sent to `errFd` unless it is -1.
pid_t spawn(const std::string& binary, const std::vector<std::string>& args, const std::string& dir, int& in,
            int& out, int errFd) {
  int toChild[2], fromChild[2];  // closed in the child by exec
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return -1;
  // The engine may stop reading early (after "quit"); a write must not kill us.
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    if (errFd >= 0) dup2(errFd, STDERR_FILENO);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  in = toChild[1];
  out = fromChild[0];
  return pid;
}

void writeAll(int fd, const std::string& text) {
  for (std::size_t written = 0; fd >= 0 && written < text.size();) {
    const ssize_t k = write(fd, text.data() + written, text.size() - written);
    if (k <= 0) return;
    written += std::size_t(k);
  }
}

int waitFor(pid_t pid, int flags) {
  int status = 0;
  if (waitpid(pid, &status, flags) != pid) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> result;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

}  // namespace

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::string lines(std::initializer_list<const char*> list) {
  std::string text;
  for (const char* line : list) text += std::string(line) + '\n';
  return text;
}

Transcript runEngine(const std::string& input, const std::vector<std::string>& args) {
  return runProgram(KORVANE_BINARY, input, args);
}

Transcript runProgram(const std::string& binary, const std::string& input, const std::vector<std::string>& args) {
  Transcript transcript;
  FILE* err = std::tmpfile();
  int in = -1, out = -1;
  const pid_t pid = err ? spawn(binary, args, "", in, out, fileno(err)) : -1;
  if (pid < 0) return transcript;
  // Written from a thread of its own: the engine may answer before it has
  // read everything.
  std::thread writer([&] {
    writeAll(in, input);
    close(in);
  });
  std::string text[2];
  char buffer[65536];
  for (ssize_t k; (k = read(out, buffer, sizeof buffer)) > 0;) text[0].append(buffer, std::size_t(k));
  close(out);
  writer.join();
  transcript.exitCode = waitFor(pid, 0);
  std::rewind(err);
  for (std::size_t k; (k = std::fread(buffer, 1, sizeof buffer, err)) > 0;) text[1].append(buffer, k);
  std::fclose(err);
  transcript.out = splitLines(text[0]);
  transcript.err = splitLines(text[1]);
  return transcript;
}

InteractiveEngine::InteractiveEngine(const std::vector<std::string>& args, const std::string& workingDir,
                                     const std::string& binary) {
  pid_ = spawn(binary, args, workingDir, in_, out_, -1);
}

InteractiveEngine::~InteractiveEngine() {
  if (exitCode_ == -2) finish(10000);
  if (out_ >= 0) close(out_);
}

void InteractiveEngine::send(const std::string& line) { writeAll(in_, line + "\n"); }

bool InteractiveEngine::readUntil(const std::function<bool(const std::string&)>& done, int timeoutMs,
                                  std::string* last) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    for (std::size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
      seen.push_back(buffer_.substr(0, end));
      buffer_.erase(0, end + 1);
      if (done(seen.back())) {
        if (last) *last = seen.back();
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
  for (int waited = 0; pid_ > 0 && waited < timeoutMs; waited += 5) {
    if (exitCode_ == -2) exitCode_ = waitFor(pid_, WNOHANG);
    if (exitCode_ != -2) return exitCode_;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

int InteractiveEngine::finish(int timeoutMs) {
  if (in_ >= 0) close(in_), in_ = -1;
  if (exitCode_ == -2 && pid_ > 0 && waitExit(timeoutMs) == -1 && exitCode_ == -2) {
    kill(pid_, SIGKILL);
    waitFor(pid_, 0);
  }
  return exitCode_ = exitCode_ == -2 ? -1 : exitCode_;
}

}  // namespace korvane::testing
