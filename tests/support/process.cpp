// The parts of the second-process helper that are the same on every OS.
#include "tests/support/process.h"

namespace vvtest {

std::string Process::ReadLine(int timeoutMs) {
  for (;;) {
    const size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    char buf[4096];
    const long got = ended_ ? 0 : ReadSome(buf, sizeof buf, timeoutMs);
    if (got < 0) return "";
    if (got == 0) {
      ended_ = true;
      std::string rest;
      rest.swap(buffered_);
      return rest;
    }
    buffered_.append(buf, static_cast<size_t>(got));
  }
}

std::string Process::ReadAll() {
  std::string all;
  all.swap(buffered_);
  char buf[65536];
  for (long got; !ended_ && (got = ReadSome(buf, sizeof buf, 24 * 3600 * 1000)) != 0;)
    if (got > 0) all.append(buf, static_cast<size_t>(got));
  ended_ = true;
  return all;
}

std::vector<std::string> SplitArgs(const std::string& line) {
  std::vector<std::string> args;
  std::string cur;
  bool any = false, quoted = false;
  for (char c : line) {
    if (quoted) {
      if (c == '\'') quoted = false;
      else cur += c;
    } else if (c == '\'') {
      quoted = any = true;
    } else if (c == ' ') {
      if (any) args.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) args.push_back(cur);
  return args;
}

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  ProcessOptions options;
  options.discardStdout = output == nullptr;
  options.stderrTo = output ? ProcessOptions::Err::ToStdout : ProcessOptions::Err::Discard;
  Process p(argv, options);
  if (!p.Started()) return -2;
  p.CloseInput();
  if (output) *output = p.ReadAll();
  return p.Wait();
}

}  // namespace vvtest
