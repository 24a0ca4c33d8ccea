// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The Windows entry: drvflip splits its command line itself, the same way on
// every Windows (see command_line.h), and passes the exit status on unchanged.
#include <windows.h>

#include "app/command_line.h"
#include "app/entry.h"
#include "console/console.h"
#include "platform/platform.h"
#include "platform/win/win_platform.h"

// The runtime's entry: it must be seen from outside this file.
int wmain(int /*argc*/, wchar_t** /*argv*/) {  // NOLINT(misc-use-internal-linkage)
  // 128 KB (32-bit) or 192 KB, zero at start: uninitialised data, not in the file.
  static drvflip::app::ArgumentVector args;
  drvflip::app::SplitCommandLine(GetCommandLineW(), &args);
  // cppcheck-suppress unassignedVariable
  drvflip::platform::WinDeviceSetup setup;
  drvflip::platform::WinKernel kernel;
  drvflip::platform::WinConsoleIo consoleIo;
  drvflip::platform::Platform os{.setup = setup, .kernel = kernel, .console = consoleIo};
  drvflip::console::Console console(consoleIo);
  return drvflip::app::RunProgram(os, console, args.argc, args.argv.data());
}
