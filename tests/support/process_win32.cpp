// Second processes on Windows: CreateProcessW with inherited pipe handles.
#include "platform/win32.h"

// The memory counters from kernel32 itself, no psapi library to link.
#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2
#endif
#include <psapi.h>

#include <algorithm>

#include "tests/support/process.h"

namespace vvtest {
namespace {

using plat::win32::Wide;

// One argument as the C runtime's command-line parser splits it again.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (size_t i = 0;; ++i) {
    size_t slashes = 0;
    while (i < arg.size() && arg[i] == L'\\') {
      ++slashes;
      ++i;
    }
    if (i == arg.size()) {
      line.append(slashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      line.append(slashes * 2 + 1, L'\\');
    } else {
      line.append(slashes, L'\\');
    }
    line += arg[i];
  }
  line += L'"';
}

HANDLE OpenForChild(const wchar_t* name, DWORD disposition) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseIf(HANDLE& h) {
  if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  h = nullptr;
}

}  // namespace

struct Process::Impl {
  HANDLE process = nullptr;
  HANDLE in = nullptr;
  HANDLE out = nullptr;
  int status = -1;
  bool started = false;
};

Process::Process(const std::vector<std::string>& argv, const ProcessOptions& options) : impl_(new Impl) {
  if (argv.empty()) return;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE childIn = nullptr, childOut = nullptr, childErr = nullptr;
  // Only the child's ends are inherited.
  if (!CreatePipe(&childIn, &impl_->in, &sa, 0)) return;
  SetHandleInformation(impl_->in, HANDLE_FLAG_INHERIT, 0);
  if (options.discardStdout) {
    childOut = OpenForChild(L"NUL", OPEN_EXISTING);
  } else if (!options.stdoutFile.empty()) {
    childOut = OpenForChild(Wide(options.stdoutFile).c_str(), CREATE_ALWAYS);
  } else if (CreatePipe(&impl_->out, &childOut, &sa, 0)) {
    SetHandleInformation(impl_->out, HANDLE_FLAG_INHERIT, 0);
  }
  bool ownErr = true;  // a handle of our own, closed once the child has its copy
  if (!options.stderrFile.empty()) {
    childErr = OpenForChild(Wide(options.stderrFile).c_str(), CREATE_ALWAYS);
  } else if (options.stderrTo == ProcessOptions::Err::Discard) {
    childErr = OpenForChild(L"NUL", OPEN_EXISTING);
  } else {
    ownErr = false;
    childErr = options.stderrTo == ProcessOptions::Err::ToStdout ? childOut : GetStdHandle(STD_ERROR_HANDLE);
  }
  std::wstring program = Wide(argv[0]);
  std::replace(program.begin(), program.end(), L'/', L'\\');
  std::wstring line;
  AppendQuoted(line, program);
  for (size_t i = 1; i < argv.size(); ++i) AppendQuoted(line, Wide(argv[i]));

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = childIn;
  si.hStdOutput = childOut;
  si.hStdError = childErr;
  PROCESS_INFORMATION pi{};
  if (childOut && childOut != INVALID_HANDLE_VALUE &&
      // No separate program name: the system then adds ".exe" where it is missing.
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    impl_->process = pi.hProcess;
    CloseHandle(pi.hThread);
    impl_->started = true;
  }
  // The child holds its own copies; ours would keep the pipes from ending.
  if (ownErr) CloseIf(childErr);
  CloseIf(childIn);
  CloseIf(childOut);
  if (!impl_->started) {
    CloseInput();
    CloseIf(impl_->out);
  }
}

Process::~Process() {
  CloseInput();
  Wait();
  CloseIf(impl_->out);
}

bool Process::Started() const { return impl_->started; }

bool Process::Write(const std::string& bytes) {
  size_t put = 0;
  while (impl_->in && put < bytes.size()) {
    DWORD done = 0;
    if (!WriteFile(impl_->in, bytes.data() + put, static_cast<DWORD>(bytes.size() - put), &done, nullptr) || !done)
      return false;
    put += done;
  }
  return put == bytes.size();
}

void Process::CloseInput() { CloseIf(impl_->in); }

long Process::ReadSome(char* buf, size_t n, int timeoutMs) {
  if (!impl_->out) return 0;
  // Anonymous pipes wait for nothing but a read: look before reading.
  const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    DWORD avail = 0;
    if (!PeekNamedPipe(impl_->out, nullptr, 0, nullptr, &avail, nullptr)) return 0;  // the writer is gone
    if (avail > 0) {
      DWORD got = 0;
      if (!ReadFile(impl_->out, buf, std::min<DWORD>(avail, static_cast<DWORD>(n)), &got, nullptr)) return 0;
      return static_cast<long>(got);
    }
    if (GetTickCount64() >= until) return -1;
    Sleep(2);
  }
}

int Process::Wait() { return WaitFor(-1); }

int Process::WaitFor(int timeoutMs) {
  if (!impl_->process) return impl_->status;
  if (WaitForSingleObject(impl_->process, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
    return -3;
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  // TerminateProcess below ends with this code: "killed".
  impl_->status = code == 0xDEAD ? -1 : static_cast<int>(code);
  CloseIf(impl_->process);
  return impl_->status;
}

void Process::Kill() {
  if (impl_->process) TerminateProcess(impl_->process, 0xDEAD);
  Wait();
}

bool Process::Terminate() { return false; }

long ResidentKb() {
  PROCESS_MEMORY_COUNTERS pmc{};
  pmc.cb = sizeof pmc;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) return 0;
  return static_cast<long>(pmc.WorkingSetSize / 1024);
}

int OpenHandles() {
  DWORD n = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0) return static_cast<int>(n);
  // Where the system keeps no count (Wine), the handles are looked for one
  // by one: their values are small multiples of four, lowest free first.
  int count = 0;
  for (uintptr_t value = 4; value < (uintptr_t{1} << 16); value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

}  // namespace vvtest
