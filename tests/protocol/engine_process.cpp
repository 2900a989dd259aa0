#include "engine_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace korvane::testing {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

}  // namespace

Transcript runEngine(const std::string& input, const std::vector<std::string>& args) {
  return runProgram(KORVANE_BINARY, input, args);
}

Transcript runProgram(const std::string& binary, const std::string& input, const std::vector<std::string>& args) {
  Transcript transcript;
  int toChild[2], fromChild[2], errFromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0 || pipe(errFromChild) != 0) return transcript;

  pid_t pid = fork();
  if (pid < 0) return transcript;
  if (pid == 0) {
    dup2(toChild[0], STDIN_FILENO);
    dup2(fromChild[1], STDOUT_FILENO);
    dup2(errFromChild[1], STDERR_FILENO);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1], errFromChild[0], errFromChild[1]}) close(fd);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  close(errFromChild[1]);
  // The engine may stop reading early (after "quit"); a write must not kill us.
  signal(SIGPIPE, SIG_IGN);

  std::string out, err;
  std::size_t written = 0;
  int inFd = toChild[1];
  if (input.empty()) {
    close(inFd);
    inFd = -1;
  }
  int outFd = fromChild[0], errFd = errFromChild[0];
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[3];
    int n = 0;
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    if (poll(fds, nfds_t(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        ssize_t k = write(inFd, input.data() + written, input.size() - written);
        if (k > 0) written += std::size_t(k);
        if (k < 0 || written == input.size()) {
          close(inFd);
          inFd = -1;
        }
      } else {
        char buffer[65536];
        ssize_t k = read(fds[i].fd, buffer, sizeof buffer);
        std::string& sink = fds[i].fd == outFd ? out : err;
        if (k > 0) {
          sink.append(buffer, std::size_t(k));
        } else {
          close(fds[i].fd);
          (fds[i].fd == outFd ? outFd : errFd) = -1;
        }
      }
    }
  }
  if (inFd >= 0) close(inFd);
  int status = 0;
  waitpid(pid, &status, 0);
  transcript.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  transcript.out = splitLines(out);
  transcript.err = splitLines(err);
  return transcript;
}

std::string lines(std::initializer_list<const char*> list) {
  std::string text;
  for (const char* line : list) {
    text += line;
    text += '\n';
  }
  return text;
}

}  // namespace korvane::testing
