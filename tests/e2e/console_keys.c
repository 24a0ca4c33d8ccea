// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
/* Runs a program in this console and reports how its key wait went.
 *
 *   console_keys RESULT MODE WAIT_MS STEPS PROGRAM
 *
 * PROGRAM is the command line to start, or @FILE: then drvflip.exe is started
 * with FILE's first line (UTF-8) as its raw command line, as it stands.
 * MODE is the console input mode to set first (hex), or "-" to keep it.
 * STEPS is a comma-separated list, done in order:
 *   start      start PROGRAM (its standard input: a file, if "stdin-file" came before)
 *   stdin-file give PROGRAM a file as its standard input
 *   out-files  PROGRAM's standard output and error go to out.txt and err.txt
 *   raw        wait until PROGRAM has put the console into raw mode (no
 *              Ctrl+C processing), then create the file "raw" (for typing)
 *   screen     read the console's screen: " screen=shown" follows the mode in
 *              RESULT when the usage and the key prompt are on it, else
 *              " screen=missing"
 *   any name of the key table below: queue that input event
 * After the steps it waits up to WAIT_MS for PROGRAM, then writes one line to
 * RESULT: "status=N" or "status=waiting" (PROGRAM is then ended), followed by
 * "mode=same" or "mode=0xBEFORE->0xAFTER" (and the screen, if read). Console output under a terminal is
 * full of cursor sequences, hence the file. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

struct Step {
  const wchar_t* name;
  WORD kind; /* KEY_EVENT, MOUSE_EVENT or FOCUS_EVENT */
  BOOL down;
  WORD vk;
  WCHAR ch;
  DWORD state;
};

static const struct Step kSteps[] = {
    {L"a", KEY_EVENT, TRUE, 'A', L'a', 0},
    {L"a-up", KEY_EVENT, FALSE, 'A', L'a', 0},
    {L"shift", KEY_EVENT, TRUE, VK_SHIFT, 0, SHIFT_PRESSED},
    {L"caps", KEY_EVENT, TRUE, VK_CAPITAL, 0, CAPSLOCK_ON},
    {L"alt", KEY_EVENT, TRUE, VK_MENU, 0, LEFT_ALT_PRESSED},
    {L"ctrl-c", KEY_EVENT, TRUE, 'C', 3, LEFT_CTRL_PRESSED},
    {L"f1", KEY_EVENT, TRUE, VK_F1, 0, 0},
    {L"focus", FOCUS_EVENT, TRUE, 0, 0, 0},
    {L"mouse", MOUSE_EVENT, TRUE, 0, 0, 0},
};

static HANDLE input;

/* The usage text and the key prompt are on the screen, wherever the cursor
   sequences of a terminal put them. */
static BOOL UsageShown(void) {
  HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (output == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(output, &info)) return FALSE;
  const DWORD cells = (DWORD)info.dwSize.X * (DWORD)info.dwSize.Y;
  wchar_t* screen = calloc(cells + 1, sizeof *screen);
  DWORD read = 0;
  COORD origin = {0, 0};
  BOOL shown = screen != NULL &&
               ReadConsoleOutputCharacterW(output, screen, cells, origin, &read) &&
               wcsstr(screen, L"USAGE:") != NULL && wcsstr(screen, L"drvflip <command>") != NULL &&
               wcsstr(screen, L"Press any key to continue") != NULL;
  free(screen);
  CloseHandle(output);
  return shown;
}

/* The raw command line in FILE's first line. */
static wchar_t* ReadLine(const wchar_t* file) {
  static char bytes[65536];
  static wchar_t line[32768];
  FILE* f = _wfopen(file, L"rb");
  if (f == NULL) return NULL;
  size_t n = fread(bytes, 1, sizeof bytes - 1, f);
  fclose(f);
  while (n > 0 && (bytes[n - 1] == '\n' || bytes[n - 1] == '\r')) --n;
  bytes[n] = 0;
  if (MultiByteToWideChar(CP_UTF8, 0, bytes, -1, line, 32768) == 0) return NULL;
  return line;
}

static BOOL Queue(const struct Step* step) {
  INPUT_RECORD record;
  DWORD written = 0;
  memset(&record, 0, sizeof record);
  record.EventType = step->kind;
  if (step->kind == KEY_EVENT) {
    record.Event.KeyEvent.bKeyDown = step->down;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = step->vk;
    record.Event.KeyEvent.wVirtualScanCode = (WORD)MapVirtualKeyW(step->vk, 0);
    record.Event.KeyEvent.uChar.UnicodeChar = step->ch;
    record.Event.KeyEvent.dwControlKeyState = step->state;
  } else if (step->kind == FOCUS_EVENT) {
    record.Event.FocusEvent.bSetFocus = TRUE;
  } else {
    record.Event.MouseEvent.dwMousePosition.X = 3;
    record.Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
  }
  return WriteConsoleInputW(input, &record, 1, &written) && written == 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 6) return 2;
  FILE* result = _wfopen(argv[1], L"w");
  if (result == NULL) return 2;
  input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      NULL, OPEN_EXISTING, 0, NULL);
  if (input == INVALID_HANDLE_VALUE) {
    fprintf(result, "no console\n");
    return 2;
  }
  if (wcscmp(argv[2], L"-") != 0) SetConsoleMode(input, wcstoul(argv[2], NULL, 16));
  DWORD before = 0;
  GetConsoleMode(input, &before);
  const DWORD waitMs = wcstoul(argv[3], NULL, 10);

  STARTUPINFOW startup;
  PROCESS_INFORMATION child;
  memset(&startup, 0, sizeof startup);
  memset(&child, 0, sizeof child);
  startup.cb = sizeof startup;
  BOOL started = FALSE;
  int screen = -1;
  wchar_t* program = argv[5];
  const wchar_t* application = NULL;
  if (program[0] == L'@' && (application = L"drvflip.exe", program = ReadLine(program + 1)) == NULL) {
    fprintf(result, "cannot read %ls\n", argv[5] + 1);
    return 2;
  }
  wchar_t* context = NULL;
  for (wchar_t* step = wcstok_s(argv[4], L",", &context); step != NULL;
       step = wcstok_s(NULL, L",", &context)) {
    if (wcscmp(step, L"start") == 0) {
      started = CreateProcessW(application, program, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &child);
      if (!started) {
        fprintf(result, "CreateProcess failed with error %lu\n", GetLastError());
        return 2;
      }
    } else if (wcscmp(step, L"stdin-file") == 0) {
      SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
      HANDLE file = CreateFileW(L"stdin.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, 0, NULL);
      DWORD written = 0;
      WriteFile(file, "pcsc\r\nq\r\n", 9, &written, NULL);
      SetFilePointer(file, 0, NULL, FILE_BEGIN);
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = file;
      startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
      startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    } else if (wcscmp(step, L"out-files") == 0) {
      SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput =
          CreateFileW(L"out.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
      startup.hStdError =
          CreateFileW(L"err.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
    } else if (wcscmp(step, L"screen") == 0) {
      screen = UsageShown();
    } else if (wcscmp(step, L"raw") == 0) {
      DWORD mode = ENABLE_PROCESSED_INPUT;
      for (int tries = 0; tries < 1000 && (mode & ENABLE_PROCESSED_INPUT) != 0; ++tries) {
        Sleep(10);
        GetConsoleMode(input, &mode);
      }
      CloseHandle(CreateFileW(L"raw", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    } else {
      size_t i = 0;
      while (i < sizeof kSteps / sizeof kSteps[0] && wcscmp(kSteps[i].name, step) != 0) ++i;
      if (i == sizeof kSteps / sizeof kSteps[0] || !Queue(&kSteps[i])) {
        fprintf(result, "bad step %ls\n", step);
        return 2;
      }
    }
  }
  if (!started) return 2;

  if (WaitForSingleObject(child.hProcess, waitMs) == WAIT_OBJECT_0) {
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    fprintf(result, "status=%lu", status);
  } else {
    TerminateProcess(child.hProcess, 99);
    WaitForSingleObject(child.hProcess, INFINITE);
    fprintf(result, "status=waiting");
  }
  DWORD after = 0;
  GetConsoleMode(input, &after);
  if (after == before) fprintf(result, " mode=same");
  else fprintf(result, " mode=0x%lX->0x%lX", before, after);
  if (screen >= 0) fprintf(result, " screen=%s", screen ? "shown" : "missing");
  fprintf(result, "\n");
  fclose(result);
  return 0;
}
