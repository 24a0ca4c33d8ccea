// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The native drvflip for Linux. It runs the same program as drvflip.exe, but
// against a simulated system with one reader whose switch driver starts with
// the PC/SC driver active; the console is the real terminal. Arguments are
// decoded from UTF-8 (a byte outside a valid sequence stands for itself).
#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/utf8_args.h"
#include "console/console.h"
#include "platform/platform.h"
#include "platform/posix/posix_console.h"
#include "platform/sim/sim_system.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  args.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(drvflip::app::DecodeArgument(argv[i]));  // NOLINT
  std::vector<const wchar_t*> wideArgv;
  wideArgv.reserve(args.size() + 1);
  std::ranges::transform(args, std::back_inserter(wideArgv),
                         [](const std::wstring& arg) { return arg.c_str(); });
  wideArgv.push_back(nullptr);

  drvflip::sim::SimSystem system;
  system.AddReader(L"\\\\?\\root#drvflip_sim#0000#{c4414883-6b5b-44c2-b888-7d04fe8505d2}");
  drvflip::platform::PosixConsoleIo consoleIo;
  drvflip::platform::Platform os{.setup = system, .kernel = system, .console = consoleIo};
  drvflip::console::Console console(consoleIo);
  return drvflip::app::RunProgram(os, console, argc, wideArgv.data());
}
