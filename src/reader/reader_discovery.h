// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// Reader discovery: the present devices of the reader's interface class,
// found through the device-setup interface. Each call takes its own snapshot
// of the present devices and releases it before it returns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "console/console.h"
#include "platform/platform.h"

namespace drvflip::reader {

// The interface class that the reader's switch driver registers:
// {C4414883-6B5B-44C2-B888-7D04FE8505D2}.
inline constexpr platform::Guid kReaderInterfaceClass{
    .data1 = 0xC4414883U,
    .data2 = 0x6B5BU,
    .data3 = 0x44C2U,
    .data4 = {0xB8, 0x88, 0x7D, 0x04, 0xFE, 0x85, 0x05, 0xD2}};

// Present devices only, selected by device interface class (0x12).
inline constexpr std::uint32_t kSnapshotFlags =
    platform::kDigcfPresent | platform::kDigcfDeviceInterface;

// One zero-terminated device interface path of at most 511 characters.
inline constexpr std::size_t kPathCapacity = 512;
using PathBuffer = std::array<wchar_t, kPathCapacity>;

// The largest detail record the lookup will obtain a buffer for. Windows
// paths are at most 32,767 characters; anything far beyond is not a path.
inline constexpr std::uint32_t kMaxDetailSize = 1U << 20;

// The number of present readers, or -1 when no snapshot could be taken.
// Prints nothing.
std::int32_t CountReaders(platform::DeviceSetup& setup);

// Fills path with the device interface path of the reader at index in a fresh
// snapshot. On false one message has been printed on standard error (none when
// the list ends before an index other than 0) and path is all zeros.
bool GetInterfacePath(platform::Platform& os, console::Console& console, PathBuffer* path,
                      std::int32_t index);

}  // namespace drvflip::reader
