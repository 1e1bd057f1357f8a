#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "host/process.h"
#include "host/win32.h"
// After windows.h, which it builds on.
#include <shellapi.h>

// The MinGW-w64 runtime expands wildcards in the command line unless told
// not to; the tools match their masks themselves, as they always did.
extern "C" {
int _dowildcard = 0;
}

namespace host {

namespace {

// The console's output code page before the run, 0 while it is unchanged.
volatile UINT g_saved_output_page = 0;

void RestoreOutputPage() {
  const UINT page = g_saved_output_page;
  if (page != 0) ::SetConsoleOutputCP(page);
}

BOOL WINAPI RestoreOutputPageOnControl(DWORD) {
  RestoreOutputPage();
  return FALSE;  // the default handler then ends the process
}

}  // namespace

std::string_view SystemName() { return "Windows"; }

// The runtime keeps descriptors 0 to 2 for the standard streams, whether
// they are open or not, so no file opened later can become the console.
// Names are UTF-8 inside the tools: a console shows them right in its UTF-8
// code page, which it is given for the run; the user's page comes back
// however the run ends (its exit, Ctrl-C, Ctrl-Break, a closed window).
// Text into a pipe or a file is never touched: its bytes stay UTF-8.
void GuardStandardDescriptors() {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || out == nullptr || !::GetConsoleMode(out, &mode)) return;
  const UINT page = ::GetConsoleOutputCP();
  if (page == 0 || page == CP_UTF8) return;
  ::SetConsoleCtrlHandler(RestoreOutputPageOnControl, TRUE);
  std::atexit(RestoreOutputPage);
  g_saved_output_page = page;
  ::SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> CommandLineUtf8(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(win32::Narrow(wide[i]));
  ::LocalFree(wide);
  return out;
}

bool WriteFully(int fd, const void* data, size_t n, int* error) {
  const auto* p = static_cast<const char*>(data);
  const char* const end = p + n;
  while (p < end) {
    // Through the runtime, so that text-mode standard output ends lines
    // with CR LF as Windows consoles and files expect.
    const size_t chunk = std::min<size_t>(static_cast<size_t>(end - p), 1u << 30);
    const int w = ::_write(fd, p, static_cast<unsigned>(chunk));
    if (w > 0) {
      p += w;
    } else {
      *error = w < 0 ? errno : 0;
      return false;
    }
  }
  return true;
}

}  // namespace host
