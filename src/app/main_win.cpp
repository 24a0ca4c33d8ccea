// The Windows entry: the runtime splits the command line into wide-character
// arguments (no wildcard expansion) and passes the exit status on unchanged.
#include "app/switch_run.h"
#include "platform/win/win_platform.h"

int wmain(int argc, wchar_t** argv) {
  // cppcheck-suppress unassignedVariable
  drvflip::platform::WinDeviceSetup setup;
  drvflip::platform::WinKernel kernel;
  drvflip::platform::WinConsoleIo consoleIo;
  drvflip::platform::Platform os{setup, kernel, consoleIo};
  drvflip::console::Console console(consoleIo);
  return drvflip::app::RunProgram(os, console, argc, argv);
}
