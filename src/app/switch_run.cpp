// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "app/switch_run.h"

#include <cstdint>

#include "app/command.h"
#include "console/console.h"
#include "driverctl/driver_requests.h"
#include "platform/platform.h"
#include "reader/io_channel.h"
#include "reader/reader_discovery.h"

namespace drvflip::app {
namespace {

using console::Stream;
namespace dc = driverctl;

// Counts the readers and walks them by index to the first whose path is
// obtained: true with that path in path and its "Open" line printed. *count
// is the count that was printed (-1 when the device list was not obtained).
bool FindReader(platform::Platform& os, console::Console& console, reader::PathBuffer& path,
                std::int32_t* count) {
  *count = reader::CountReaders(os.setup);
  console.Print(Stream::Out, kCountLine, *count);
  if (*count < 0) {
    console.Print(Stream::Err,
                  L"ERROR: CountReaders: the list of present devices could not be obtained.\n");
  }
  for (std::int32_t index = 0; index < *count; ++index) {
    if (!reader::GetInterfacePath(os, console, &path, index)) {
      console.Print(Stream::Out, L"ERROR: Not found.\n");
      continue;
    }
    console.Print(Stream::Out, L"Open '%s'.\n", path.data());
    return true;
  }
  return false;
}

// Opens the channel on the reader's path, reads and prints the driver's
// versions and checks its API version: true when the driver may be asked more.
bool OpenAndCheck(reader::IoChannel& channel, console::Console& console,
                  const reader::PathBuffer& path) {
  if (!channel.Open(path.data())) return false;
  dc::DriverInfo info;
  if (!dc::GetDriverInfo(channel, console, &info)) return false;
  console.Print(Stream::Out, L"\n\n");
  console.Print(Stream::Out, L"Driver API version: %d.%d\n", dc::Major(info.ApiVersion()),
                dc::Minor(info.ApiVersion()));
  console.Print(Stream::Out, L"Driver file version: %d.%d.0.%d\n", dc::Major(info.FileVersion()),
                dc::Minor(info.FileVersion()), static_cast<std::int32_t>(info.BuildNumber()));
  return dc::CheckApiVersion(console, info);
}

// Reads the type in force and prints it: true when it was read.
bool ShowActiveDriver(reader::IoChannel& channel, console::Console& console) {
  dc::DriverType active = 0;
  if (!dc::GetActiveDriver(channel, console, &active)) return false;
  console.Print(Stream::Out, kActiveLine, dc::DriverTypeName(active));
  return true;
}

// One attempt on the reader whose path is in path: open, read the versions,
// check them, set the type, read back the type in force. The channel is
// released on every way out.
int SwitchReader(platform::Platform& os, console::Console& console, const CommandState& command,
                 const reader::PathBuffer& path) {
  reader::IoChannel channel(os.kernel, console);
  if (!OpenAndCheck(channel, console, path)) return kExitFailure;

  dc::DriverType type = 0;
  if (!dc::DriverTypeForCommand(command.id, &type)) {
    console.Print(Stream::Err, L"ERROR: Unexpected command %d ('%s') to set driver type\n",
                  command.id, command.name.data());
    return kExitFailure;
  }
  if (!dc::SetDriverType(channel, type)) return kExitFailure;
  // A failed read-back has printed its reason; the type was set all the same.
  ShowActiveDriver(channel, console);
  return kExitSuccess;
}

}  // namespace

int SwitchRun(platform::Platform& os, console::Console& console, const CommandState& command,
              reader::PathBuffer& path) {
  std::int32_t count = 0;
  if (!FindReader(os, console, path, &count)) return kExitSuccess;
  return SwitchReader(os, console, command, path);
}

int QueryRun(platform::Platform& os, console::Console& console, reader::PathBuffer& path) {
  std::int32_t count = 0;
  // Only a count of 0 says that no reader is there: a device list that could
  // not be taken, or readers whose paths could not be read, leave the state unknown.
  if (!FindReader(os, console, path, &count)) return count == 0 ? kExitNoReader : kExitFailure;
  reader::IoChannel channel(os.kernel, console);
  if (!OpenAndCheck(channel, console, path)) return kExitFailure;
  return ShowActiveDriver(channel, console) ? kExitSuccess : kExitFailure;
}

}  // namespace drvflip::app
