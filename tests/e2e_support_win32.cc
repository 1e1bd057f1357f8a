// Scratch folders and runs of the tools on Windows (under Wine in CI). A
// run gets the same things as on POSIX systems: standard input from NUL,
// both outputs captured, a deadline, the exit status, time and memory.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it builds on.
#include <gtest/gtest.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "e2e_support.h"

namespace e2e {

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const std::string& s) { return PathOf(s).wstring(); }

// The build hands over the tools' paths as the cross build names them
// (/home/.../xkrf.exe); Wine shows the root of that file system as Z:.
std::wstring ProgramPath(const std::string& binary) {
  std::wstring path = Wide(binary);
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// One argument as CommandLineToArgvW reads it back.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    *line += arg;
    return;
  }
  *line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line->append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    *line += c;
  }
  line->append(backslashes * 2, L'\\');
  *line += L'"';
}

// The tools end their lines with CR LF on Windows; the tests compare the
// same texts as on Linux. A line end without its CR fails the test.
void ToLinuxLineEnds(std::string* text, const char* stream) {
  std::string out;
  for (size_t i = 0; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
    if (c == '\n' && (i == 0 || (*text)[i - 1] != '\r')) {
      ADD_FAILURE() << "a line on " << stream << " ends without CR: " << *text;
      break;
    }
    out += c;
  }
  *text = std::move(out);
}

void Drain(HANDLE pipe, std::string* sink) {
  char buf[65536];
  DWORD got = 0;
  while (::ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) sink->append(buf, got);
  ::CloseHandle(pipe);
}

}  // namespace

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const fs::path candidate = base / ("krftest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                       std::to_string(counter++));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.generic_string();
      return;
    }
  }
  ADD_FAILURE() << "no scratch folder could be made";
}

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool MakeFifo(const std::string& path) {
  ADD_FAILURE() << "Windows has no FIFOs: " << path;
  return false;
}

RunResult Run(const std::string& binary, const std::vector<std::string>& args,
              const std::string& cwd, const std::function<void()>& prepare) {
  RunResult result;
  if (prepare) {
    ADD_FAILURE() << "a run cannot be prepared in the child on Windows";
    return result;
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  if (!::CreatePipe(&out_read, &out_write, &inherit, 0) ||
      !::CreatePipe(&err_read, &err_write, &inherit, 0)) {
    ADD_FAILURE() << "CreatePipe failed";
    return result;
  }
  ::SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 OPEN_EXISTING, 0, nullptr);

  const std::wstring program = ProgramPath(binary);
  std::wstring line;
  AppendQuoted(&line, program);
  for (const std::string& arg : args) {
    line += L' ';
    AppendQuoted(&line, Wide(arg));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  const std::wstring dir = Wide(cwd);
  // Wine now and then fails to start a process with an internal error while
  // its server is busy; a later try starts it.
  bool started = false;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) ::Sleep(200);
    started = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                               CREATE_NO_WINDOW, nullptr, dir.c_str(), &startup, &process);
    start_error = started ? 0 : ::GetLastError();
    if (start_error != ERROR_INTERNAL_ERROR) break;
  }
  ::CloseHandle(out_write);
  ::CloseHandle(err_write);
  ::CloseHandle(null_in);
  if (!started) {
    ADD_FAILURE() << "cannot start " << binary << " (error " << start_error << ")";
    ::CloseHandle(out_read);
    ::CloseHandle(err_read);
    return result;
  }
  // A tool that hangs fails its test instead of stopping the suite, with
  // the status a POSIX run gets from its alarm. The peak memory is read
  // while the run lasts too: once it has ended, the figure may be gone
  // (under Wine), and it never shrinks meanwhile.
  SIZE_T peak = 0;
  const auto read_peak = [&process, &peak] {
    PROCESS_MEMORY_COUNTERS memory{};
    if (::K32GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
      peak = std::max(peak, memory.PeakWorkingSetSize);
    }
  };
  std::thread deadline([&process, &read_peak] {
    const ULONGLONG end = ::GetTickCount64() + kRunDeadlineSeconds * 1000;
    while (::WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
      read_peak();
      if (::GetTickCount64() >= end) {
        ::TerminateProcess(process.hProcess, 128 + 14);
        break;
      }
    }
  });
  // Both pipes drained together, so a chatty tool never blocks on a full one.
  std::thread err_reader(Drain, err_read, &result.err);
  Drain(out_read, &result.out);
  err_reader.join();
  deadline.join();
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  result.exit_code = static_cast<int>(code);
  read_peak();
  result.max_rss_kb = static_cast<long>(peak / 1024);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  ToLinuxLineEnds(&result.out, "standard output");
  ToLinuxLineEnds(&result.err, "standard error");
  return result;
}

RunResult RunWithin(const std::string& binary, const std::vector<std::string>& args,
                    const std::string& cwd, std::chrono::milliseconds,
                    const std::function<void()>& prepare) {
  return Run(binary, args, cwd, prepare);
}

}  // namespace e2e
