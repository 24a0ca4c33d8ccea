// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// Reads fuzzer bytes as the values a target needs; past the end every read
// gives zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace drvflip::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  [[nodiscard]] bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t Word16() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8U)); }
  std::uint32_t Word32() {
    const std::uint32_t low = Word16();
    return low | (static_cast<std::uint32_t>(Word16()) << 16U);
  }
  bool Flag() { return (Byte() & 1U) != 0; }
  // A number in [0, limit).
  std::uint32_t Below(std::uint32_t limit) { return limit == 0 ? 0 : Word32() % limit; }
  // Wide text of up to maxLength characters, each of 16 bits (never a NUL).
  std::wstring Text(std::size_t maxLength) {
    std::wstring text;
    const std::size_t length = Below(static_cast<std::uint32_t>(maxLength + 1));
    for (std::size_t i = 0; i < length && !Empty(); ++i) {
      const std::uint16_t c = Word16();
      text.push_back(static_cast<wchar_t>(c == 0 ? L'x' : c));
    }
    return text;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace drvflip::fuzz
