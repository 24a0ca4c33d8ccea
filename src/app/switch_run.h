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

// Counts the readers, switches the first one whose path is obtained to the
// driver type the command names, and prints what happened. 1 when a step from
// Open through SetDriverType failed; 0 otherwise (also with no reader).
int SwitchRun(platform::Platform& os, console::Console& console, const CommandState& command,
              reader::PathBuffer& path);

}  // namespace drvflip::app
