#include <io.h>

#include <csignal>

#include "host/console.h"
#include "host/win32.h"

namespace host {

namespace {

// The console input's mode outside the wait, for the control handler: a
// Ctrl-C, Ctrl-Break or closed window during the wait ends the process,
// and the console must get its mode back first.
HANDLE g_input = INVALID_HANDLE_VALUE;
DWORD g_saved_mode = 0;
volatile LONG g_mode_changed = 0;

void RestoreMode() {
  if (::InterlockedExchange(&g_mode_changed, 0) != 0) ::SetConsoleMode(g_input, g_saved_mode);
}

BOOL WINAPI OnControl(DWORD) {
  RestoreMode();
  return FALSE;  // the default handler then ends the process
}

bool IsConsole(HANDLE h) {
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode);
}

}  // namespace

bool StdinIsTerminal() { return IsConsole(::GetStdHandle(STD_INPUT_HANDLE)); }

bool IsTerminal(int fd) { return IsConsole(win32::HandleOf(fd)); }

void WaitForKey() {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsole(input) || !IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE))) return;
  g_input = input;
  if (!::GetConsoleMode(input, &g_saved_mode)) return;
  ::SetConsoleCtrlHandler(OnControl, TRUE);
  // No line editing, no echo; Ctrl-C arrives as a key and is acted on below.
  const DWORD raw = g_saved_mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                                       ENABLE_PROCESSED_INPUT);
  ::InterlockedExchange(&g_mode_changed, 1);
  ::SetConsoleMode(input, raw);
  bool interrupt = false;
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!::ReadConsoleInputW(input, &record, 1, &got) || got == 0) break;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const WCHAR c = record.Event.KeyEvent.uChar.UnicodeChar;
    // Shift, Ctrl and the like alone are not a key press.
    if (c == 0 && record.Event.KeyEvent.wVirtualKeyCode >= VK_SHIFT &&
        record.Event.KeyEvent.wVirtualKeyCode <= VK_MENU) {
      continue;
    }
    interrupt = c == 3;
    break;
  }
  RestoreMode();
  ::SetConsoleCtrlHandler(OnControl, FALSE);
  if (interrupt) std::raise(SIGINT);
}

}  // namespace host
