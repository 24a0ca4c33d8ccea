// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The switch driver's three control requests, their codes and records, the
// API version rule, and the driver types with their display names.
#pragma once

#include <array>
#include <cstdint>

#include "app/command.h"
#include "console/console.h"
#include "reader/io_channel.h"

namespace drvflip::driverctl {

// A control code as the platform builds it: device type in bits 31-16,
// access in 15-14, function in 13-2, transfer method in 1-0.
constexpr std::uint32_t ControlCode(std::uint32_t deviceType, std::uint32_t function,
                                    std::uint32_t method, std::uint32_t access) {
  return (deviceType << 16U) | (access << 14U) | (function << 2U) | method;
}

inline constexpr std::uint32_t kDeviceType = 0x8091;
inline constexpr std::uint32_t kMethodBuffered = 0;
inline constexpr std::uint32_t kAnyAccess = 0;
inline constexpr std::uint32_t kCodeGetDriverInfo =
    ControlCode(kDeviceType, 0x892, kMethodBuffered, kAnyAccess);
inline constexpr std::uint32_t kCodeSetDriverType =
    ControlCode(kDeviceType, 0x893, kMethodBuffered, kAnyAccess);
inline constexpr std::uint32_t kCodeGetActiveDriver =
    ControlCode(kDeviceType, 0x894, kMethodBuffered, kAnyAccess);
static_assert(kCodeGetDriverInfo == 0x80912248U);
static_assert(kCodeSetDriverType == 0x8091224CU);
static_assert(kCodeGetActiveDriver == 0x80912250U);

// What the driver answers to GetDriverInfo: four little-endian 32-bit words.
struct DriverInfo {
  static constexpr std::uint32_t kSize = 16;
  std::array<std::uint8_t, kSize> bytes{};

  [[nodiscard]] std::uint32_t Word(std::size_t index) const {
    const std::size_t at = index * 4;
    return static_cast<std::uint32_t>(bytes[at]) |
           (static_cast<std::uint32_t>(bytes[at + 1]) << 8U) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16U) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24U);
  }
  // Major version in bits 31-16, minor in bits 15-0.
  [[nodiscard]] std::uint32_t ApiVersion() const { return Word(0); }
  [[nodiscard]] std::uint32_t FileVersion() const { return Word(1); }
  // The last component of the driver's file version.
  [[nodiscard]] std::uint32_t BuildNumber() const { return Word(2); }
};

constexpr std::int32_t Major(std::uint32_t version) {
  return static_cast<std::int32_t>(version >> 16U);
}
constexpr std::int32_t Minor(std::uint32_t version) {
  return static_cast<std::int32_t>(version & 0xFFFFU);
}

// The driver type: 0 = PC/SC driver, 1 = USBIO driver.
using DriverType = std::uint32_t;
inline constexpr DriverType kDriverPcsc = 0;
inline constexpr DriverType kDriverTavi = 1;

inline constexpr std::int32_t kSupportedApiMajor = 1;
inline constexpr std::int32_t kMinimumApiMinor = 0;

// Fills info from the driver; a reply of other than 16 bytes is a failure and
// leaves info cleared.
bool GetDriverInfo(reader::IoChannel& channel, console::Console& console, DriverInfo* info);
// True when the driver's API major version is the supported one.
bool CheckApiVersion(console::Console& console, const DriverInfo& info);
// The driver type a command selects; false, with nothing printed, for any id
// but tavi and pcsc.
bool DriverTypeForCommand(app::CommandId command, DriverType* type);
// Asks the driver to take the type.
bool SetDriverType(reader::IoChannel& channel, DriverType type);
// Reads the type in force; a reply of other than 4 bytes is a failure.
bool GetActiveDriver(reader::IoChannel& channel, console::Console& console, DriverType* type);
// "PCSC", "TAVI" or "unknown".
const wchar_t* DriverTypeName(DriverType type);

}  // namespace drvflip::driverctl
