// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "driverctl/driver_requests.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "app/command.h"
#include "console/console.h"
#include "platform/platform.h"
#include "reader/io_channel.h"

namespace drvflip::driverctl {
namespace {

using console::Stream;

constexpr std::uint32_t kTypeSize = 4;

std::array<std::uint8_t, kTypeSize> EncodeType(DriverType type) {
  return {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8U),
          static_cast<std::uint8_t>(type >> 16U), static_cast<std::uint8_t>(type >> 24U)};
}

DriverType DecodeType(const std::array<std::uint8_t, kTypeSize>& bytes) {
  return static_cast<DriverType>(bytes[0]) | (static_cast<DriverType>(bytes[1]) << 8U) |
         (static_cast<DriverType>(bytes[2]) << 16U) | (static_cast<DriverType>(bytes[3]) << 24U);
}

}  // namespace

bool GetDriverInfo(reader::IoChannel& channel, console::Console& console, DriverInfo* info) {
  info->bytes.fill(0);
  std::uint32_t count = 0;
  if (!channel.IoctlSync(kCodeGetDriverInfo, nullptr, 0, info->bytes.data(), DriverInfo::kSize,
                         &count)) {
    return false;
  }
  if (count != DriverInfo::kSize) {
    console.Print(Stream::Err,
                  L"ERROR: GetDriverInfo: bytes returned = %u, bytes expected = %zu.\n", count,
                  std::size_t{DriverInfo::kSize});
    info->bytes.fill(0);
    return false;
  }
  return true;
}

bool CheckApiVersion(console::Console& console, const DriverInfo& info) {
  const std::int32_t major = Major(info.ApiVersion());
  const std::int32_t minor = Minor(info.ApiVersion());
  if (major != kSupportedApiMajor) {
    console.Print(Stream::Err,
                  L"ERROR: Driver API version %d.%d not supported. Expected major version = %d, "
                  L"expected minor version >= %d.\n",
                  major, minor, kSupportedApiMajor, kMinimumApiMinor);
    return false;
  }
  return true;
}

bool DriverTypeForCommand(app::CommandId command, DriverType* type) {
  switch (command) {
    case app::kCommandTavi: *type = kDriverTavi; return true;
    case app::kCommandPcsc: *type = kDriverPcsc; return true;
    default: return false;
  }
}

bool SetDriverType(reader::IoChannel& channel, DriverType type) {
  const auto input = EncodeType(type);
  return channel.IoctlSync(kCodeSetDriverType, input.data(), kTypeSize, nullptr, 0, nullptr);
}

bool GetActiveDriver(reader::IoChannel& channel, console::Console& console, DriverType* type) {
  *type = 0;
  std::array<std::uint8_t, kTypeSize> output{};
  std::uint32_t count = 0;
  if (!channel.IoctlSync(kCodeGetActiveDriver, nullptr, 0, output.data(), kTypeSize, &count)) {
    return false;
  }
  if (count != kTypeSize) {
    console.Print(Stream::Err,
                  L"ERROR: GetActiveDriver: bytes returned = %u, bytes expected = %zu.\n", count,
                  std::size_t{kTypeSize});
    return false;
  }
  *type = DecodeType(output);
  return true;
}

const wchar_t* DriverTypeName(DriverType type) {
  switch (type) {
    case kDriverPcsc: return L"PCSC";
    case kDriverTavi: return L"TAVI";
    default: return L"unknown";
  }
}

}  // namespace drvflip::driverctl
