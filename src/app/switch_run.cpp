// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "app/switch_run.h"

#include "driverctl/driver_requests.h"
#include "reader/io_channel.h"

namespace drvflip::app {
namespace {

using console::Stream;
namespace dc = driverctl;

// One attempt on the reader whose path is in path: open, read the versions,
// check them, set the type, read back the type in force. The channel is
// released on every way out.
int SwitchReader(platform::Platform& os, console::Console& console, const CommandState& command,
                 const reader::PathBuffer& path) {
  reader::IoChannel channel(os.kernel, console);
  if (!channel.Open(path.data())) return kExitFailure;

  dc::DriverInfo info;
  if (!dc::GetDriverInfo(channel, console, &info)) return kExitFailure;
  console.Print(Stream::Out, L"\n\n");
  console.Print(Stream::Out, L"Driver API version: %d.%d\n", dc::Major(info.ApiVersion()),
                dc::Minor(info.ApiVersion()));
  console.Print(Stream::Out, L"Driver file version: %d.%d.0.%d\n", dc::Major(info.FileVersion()),
                dc::Minor(info.FileVersion()), static_cast<std::int32_t>(info.BuildNumber()));
  if (!dc::CheckApiVersion(console, info)) return kExitFailure;

  dc::DriverType type = 0;
  if (!dc::DriverTypeForCommand(command.id, &type)) {
    console.Print(Stream::Err, L"ERROR: Unexpected command %d ('%s') to set driver type\n",
                  command.id, command.name.data());
    return kExitFailure;
  }
  if (!dc::SetDriverType(channel, type)) return kExitFailure;

  dc::DriverType active = 0;
  if (dc::GetActiveDriver(channel, console, &active)) {
    console.Print(Stream::Out, L"\nCurrently activated driver type: %s\n",
                  dc::DriverTypeName(active));
  }
  return kExitSuccess;
}

}  // namespace

int SwitchRun(platform::Platform& os, console::Console& console, const CommandState& command,
              reader::PathBuffer& path) {
  const std::int32_t count = reader::CountReaders(os.setup);
  console.Print(Stream::Out, L"%d device(s) found.\n", count);
  if (count < 0) {
    console.Print(Stream::Err,
                  L"ERROR: CountReaders: the list of present devices could not be obtained.\n");
  }
  for (std::int32_t index = 0; index < count; ++index) {
    if (!reader::GetInterfacePath(os, console, &path, index)) {
      console.Print(Stream::Out, L"ERROR: Not found.\n");
      continue;
    }
    console.Print(Stream::Out, L"Open '%s'.\n", path.data());
    return SwitchReader(os, console, command, path);
  }
  return kExitSuccess;
}

}  // namespace drvflip::app
