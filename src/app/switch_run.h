// The switch run and the entry: from an argument vector to an exit status.
#pragma once

#include <cstdint>

#include "app/command.h"
#include "console/console.h"
#include "platform/platform.h"
#include "reader/reader_discovery.h"

namespace drvflip::app {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// Counts the readers, switches the first one whose path is obtained to the
// driver type the command names, and prints what happened. 1 when a step from
// Open through SetDriverType failed; 0 otherwise (also with no reader).
int SwitchRun(platform::Platform& os, console::Console& console, const CommandState& command,
              reader::PathBuffer& path);

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
