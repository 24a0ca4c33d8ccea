// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The console on Linux and other POSIX systems, for the native build: the
// standard streams are file descriptors 1 and 2, the console input device is
// the controlling terminal, and raw mode is termios without echo, canonical
// mode or signals.
#pragma once

#include <termios.h>

#include "platform/platform.h"

namespace drvflip::platform {

class PosixConsoleIo final : public ConsoleIo {
 public:
  // terminal: the device the key wait reads; the controlling terminal unless
  // a test names another.
  explicit PosixConsoleIo(const char* terminal = "/dev/tty") : terminal_(terminal) {}

  bool IsConsole(Stream stream) override;
  void Write(Stream stream, const std::uint8_t* bytes, std::size_t count) override;
  InputHandle OpenInput() override;
  void CloseInput(InputHandle input) override;
  // The mode word holds kModeEchoInput, kModeLineInput and kModeProcessedInput
  // for ECHO, ICANON and ISIG; everything else of the terminal's settings is
  // kept as it was when the mode was read, and setting the mode that was read
  // restores the settings exactly.
  bool GetInputMode(InputHandle input, std::uint32_t* mode) override;
  bool SetInputMode(InputHandle input, std::uint32_t mode) override;
  // One key press as the terminal delivers it: a byte, a UTF-8 sequence, or
  // an escape sequence (read whole, so that none of it is left for the shell).
  bool ReadInput(InputHandle input, InputEvent* event, std::uint32_t* count) override;
  // A POSIX system has no Windows session: it cannot be learnt (false).
  bool GetSessionId(std::uint32_t* session) override;

 private:
  const char* terminal_;
  termios saved_{};
  std::uint32_t savedMode_ = 0;
  bool haveSaved_ = false;
};

}  // namespace drvflip::platform
