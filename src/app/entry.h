// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The entry: from an argument vector to an exit status.
#pragma once

#include "app/command.h"
#include "console/console.h"
#include "platform/platform.h"

namespace drvflip::app {

// Parses the command line into command. True when it names a command; false
// after printing the parsing error, if any (the caller shows the usage).
bool ParseCommandLine(console::Console& console, int argc, const wchar_t* const* argv,
                      CommandState* command);

// Prints the usage text and the key prompt, waits for a key and returns 1.
int ShowUsage(console::Console& console);

// The program: argc and argv as the runtime passes them (argv[0] is the
// program's name); returns the exit status.
int RunProgram(platform::Platform& os, console::Console& console, int argc,
               const wchar_t* const* argv);

}  // namespace drvflip::app
