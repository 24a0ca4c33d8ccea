// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "app/utf8_args.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace drvflip::app {

std::wstring DecodeArgument(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    std::size_t extra = 0;
    std::uint32_t code = lead;
    std::uint32_t least = 0;
    if (lead >= 0xC2U && lead <= 0xDFU) {
      extra = 1;
      code = lead & 0x1FU;
      least = 0x80U;
    } else if (lead >= 0xE0U && lead <= 0xEFU) {
      extra = 2;
      code = lead & 0x0FU;
      least = 0x800U;
    } else if (lead >= 0xF0U && lead <= 0xF4U) {
      extra = 3;
      code = lead & 0x07U;
      least = 0x10000U;
    }
    bool valid = true;
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      if (i + k >= bytes.size()) {
        valid = false;
        break;
      }
      const auto next = static_cast<std::uint8_t>(bytes[i + k]);
      if ((next & 0xC0U) != 0x80U) {
        valid = false;
      } else {
        code = (code << 6U) | (next & 0x3FU);
      }
    }
    if (extra > 0 && valid && code >= least && code <= 0x10FFFFU &&
        (code < 0xD800U || code > 0xDFFFU)) {
      text.push_back(static_cast<wchar_t>(code));
      i += extra + 1;
    } else {
      text.push_back(static_cast<wchar_t>(lead));
      ++i;
    }
  }
  return text;
}

}  // namespace drvflip::app
