// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The switch run: from a parsed command to an exit status.
#pragma once

#include <cstdint>

#include "app/command.h"
#include "console/console.h"
#include "platform/platform.h"
#include "reader/reader_discovery.h"

namespace drvflip::app {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
// A query that counted no reader.
inline constexpr int kExitNoReader = 2;

// Two lines that the fleet scripts read (fleet/run.ps1, fleet/switch.cmd):
// the count line, which says "0 device(s) found." where no reader is there,
// and the line of the type now active. tools/tests/test_contract.py holds the
// scripts to these and to kExitNoReader.
inline constexpr const wchar_t* kCountLine = L"%d device(s) found.\n";
inline constexpr const wchar_t* kActiveLine = L"\nCurrently activated driver type: %s\n";

// Counts the readers, switches the first one whose path is obtained to the
// driver type the command names, and prints what happened. 1 when a step from
// Open through SetDriverType failed; 0 otherwise (also with no reader).
int SwitchRun(platform::Platform& os, console::Console& console, const CommandState& command,
              reader::PathBuffer& path);

// The switch run up to the API check on the first reader whose path is
// obtained, then the type in force read and printed; no request that changes
// the driver is sent. 0 when the type was read; 2 where no reader was counted;
// 1 when the device list could not be taken, no counted reader's path could be
// read, or a step from Open through the read failed.
int QueryRun(platform::Platform& os, console::Console& console, reader::PathBuffer& path);

}  // namespace drvflip::app
