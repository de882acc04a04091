// Second processes on POSIX systems: posix_spawn with pipes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "tests/support/process.h"

extern char** environ;

namespace vvtest {

struct Process::Impl {
  pid_t pid = -1;
  int in = -1;
  int out = -1;
  int status = -1;  // once waited for
  bool started = false;
};

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options) : impl_(new Impl) {
  if (argv.empty()) return;
  int in[2], out[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0) return;
  const bool piped = !options.discardStdout && options.stdoutFile.empty();
  if (piped && pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  if (piped)
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  else
    posix_spawn_file_actions_addopen(&fa, 1, options.discardStdout ? "/dev/null" : options.stdoutFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!options.stderrFile.empty())
    posix_spawn_file_actions_addopen(&fa, 2, options.stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  else if (options.stderrTo == ProcessOptions::Err::Discard)
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  else if (options.stderrTo == ProcessOptions::Err::ToStdout)
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (posix_spawn(&impl_->pid, args[0], &fa, nullptr, args.data(), environ) != 0) impl_->pid = -1;
  impl_->started = impl_->pid > 0;
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  if (piped) ::close(out[1]);
  impl_->in = in[1];
  impl_->out = out[0];
  if (impl_->pid < 0) {
    CloseInput();
    if (impl_->out >= 0) ::close(impl_->out);
    impl_->out = -1;
  }
}

Process::~Process() {
  CloseInput();
  Wait();
  if (impl_->out >= 0) ::close(impl_->out);
}

bool Process::Started() const { return impl_->started; }

bool Process::Write(const std::string& bytes) {
  size_t put = 0;
  while (impl_->in >= 0 && put < bytes.size()) {
    const ssize_t w = ::write(impl_->in, bytes.data() + put, bytes.size() - put);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    put += static_cast<size_t>(w);
  }
  return put == bytes.size();
}

void Process::CloseInput() {
  if (impl_->in >= 0) ::close(impl_->in);
  impl_->in = -1;
}

long Process::ReadSome(char* buf, size_t n, int timeoutMs) {
  if (impl_->out < 0) return 0;
  pollfd p{impl_->out, POLLIN, 0};
  int r;
  while ((r = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
  }
  if (r == 0) return -1;
  ssize_t got;
  while ((got = ::read(impl_->out, buf, n)) < 0 && errno == EINTR) {
  }
  return got < 0 ? 0 : static_cast<long>(got);
}

static int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int Process::Wait() {
  if (impl_->pid > 0) {
    int status = 0;
    while (waitpid(impl_->pid, &status, 0) < 0 && errno == EINTR) {
    }
    impl_->status = ExitCode(status);
    impl_->pid = -1;
  }
  return impl_->status;
}

int Process::WaitFor(int timeoutMs) {
  for (int waited = 0; impl_->pid > 0; waited += 5) {
    int status = 0;
    if (waitpid(impl_->pid, &status, WNOHANG) == impl_->pid) {
      impl_->status = ExitCode(status);
      impl_->pid = -1;
      break;
    }
    if (waited >= timeoutMs) return -3;
    usleep(5000);
  }
  return impl_->status;
}

void Process::Kill() {
  if (impl_->pid > 0) ::kill(impl_->pid, SIGKILL);
  Wait();
}

bool Process::Terminate() { return impl_->pid > 0 && ::kill(impl_->pid, SIGTERM) == 0; }

long ResidentKb() {
  long size = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int OpenHandles() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace vvtest
