// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The parsed command line.
#pragma once

#include <array>
#include <cstdint>

namespace drvflip::app {

// 0 = no command yet, 1 = tavi, 2 = pcsc, 3 = query.
using CommandId = std::int32_t;
inline constexpr CommandId kCommandNone = 0;
inline constexpr CommandId kCommandTavi = 1;
inline constexpr CommandId kCommandPcsc = 2;
inline constexpr CommandId kCommandQuery = 3;

inline constexpr std::size_t kCommandNameCapacity = 20;

struct CommandState {
  CommandId id = kCommandNone;
  // The canonical lower-case command word; the last element stays zero.
  std::array<wchar_t, kCommandNameCapacity> name{};
};

}  // namespace drvflip::app
