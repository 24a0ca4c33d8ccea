// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// Decoding of byte arguments (as a POSIX main receives them) into wide
// strings: UTF-8 sequences become their characters; a byte that does not
// begin a valid sequence stands for itself, so it is echoed back unchanged.
#pragma once

#include <string>
#include <string_view>

namespace drvflip::app {

std::wstring DecodeArgument(std::string_view bytes);

}  // namespace drvflip::app
