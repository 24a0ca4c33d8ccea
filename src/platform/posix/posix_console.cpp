// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "platform/posix/posix_console.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace drvflip::platform {
namespace {

// Virtual-key codes that the key wait tells apart.
constexpr std::uint16_t kVkClear = 0x0C;
constexpr std::uint16_t kVkPageUp = 0x21;
constexpr std::uint16_t kVkPageDown = 0x22;
constexpr std::uint16_t kVkEnd = 0x23;
constexpr std::uint16_t kVkHome = 0x24;
constexpr std::uint16_t kVkLeft = 0x25;
constexpr std::uint16_t kVkUp = 0x26;
constexpr std::uint16_t kVkRight = 0x27;
constexpr std::uint16_t kVkDown = 0x28;
constexpr std::uint16_t kVkInsert = 0x2D;
constexpr std::uint16_t kVkDelete = 0x2E;
constexpr std::uint16_t kVkNumpad0 = 0x60;
constexpr std::uint16_t kVkF1 = 0x70;

// How long the rest of a key's bytes may take to follow its first byte.
constexpr int kFollowMs = 50;

int Fd(InputHandle input) {
  return static_cast<int>(input);
}

// Reads one byte; waits at most timeoutMs (-1: no limit). 1 on a byte, 0 at
// the end of input or when the time ran out, -1 on failure. The wait is the
// poll's, not the terminal's: a terminal whose saved settings are already
// raw with VMIN 0 is used as it is, and its reads would not block.
int ReadByte(int fd, std::uint8_t* byte, int timeoutMs) {
  for (;;) {
    pollfd ready{.fd = fd, .events = POLLIN, .revents = 0};
    const int polled = ::poll(&ready, 1, timeoutMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return polled;
    const ssize_t n = ::read(fd, byte, 1);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<int>(n);
  }
}

std::uint16_t KeyOfFinal(std::uint8_t final) {
  switch (final) {
    case 'A': return kVkUp;
    case 'B': return kVkDown;
    case 'C': return kVkRight;
    case 'D': return kVkLeft;
    case 'H': return kVkHome;
    case 'F': return kVkEnd;
    case 'E': return kVkClear;
    case 'P':
    case 'Q':
    case 'R':
    case 'S': return static_cast<std::uint16_t>(kVkF1 + (final - 'P'));
    default: return 0;
  }
}

std::uint16_t KeyOfTilde(unsigned number) {
  switch (number) {
    case 1:
    case 7: return kVkHome;
    case 2: return kVkInsert;
    case 3: return kVkDelete;
    case 4:
    case 8: return kVkEnd;
    case 5: return kVkPageUp;
    case 6: return kVkPageDown;
    default: break;
  }
  // 11-15: F1-F5, 17-21: F6-F10, 23-26: F11-F14, 28-29: F15-F16, 31-34: F17-F20.
  constexpr std::uint8_t kFirst[] = {11, 17, 23, 28, 31};  // NOLINT(*-avoid-c-arrays)
  constexpr std::uint8_t kLast[] = {15, 21, 26, 29, 34};   // NOLINT(*-avoid-c-arrays)
  unsigned key = kVkF1;
  for (std::size_t i = 0; i < 5; ++i) {
    if (number >= kFirst[i] && number <= kLast[i])
      return static_cast<std::uint16_t>(key + number - kFirst[i]);
    key += kLast[i] - kFirst[i] + 1U;
  }
  return 0;
}

// The rest of an escape sequence after ESC and its introducer.
std::uint16_t ReadEscapeKey(int fd, std::uint8_t introducer) {
  std::uint8_t byte = 0;
  if (introducer == 'O') {
    if (ReadByte(fd, &byte, kFollowMs) != 1) return 0;
    if (byte >= 'p' && byte <= 'y') return static_cast<std::uint16_t>(kVkNumpad0 + (byte - 'p'));
    return KeyOfFinal(byte);
  }
  // A control sequence: parameters and intermediates, then a final byte.
  unsigned number = 0;
  bool first = true;
  for (int i = 0; i < 32; ++i) {
    if (ReadByte(fd, &byte, kFollowMs) != 1) return 0;
    if (byte >= 0x40 && byte <= 0x7E) return byte == '~' ? KeyOfTilde(number) : KeyOfFinal(byte);
    if (byte == ';') first = false;
    if (first && byte >= '0' && byte <= '9') number = number * 10 + (byte - '0');
  }
  return 0;
}

// A character from a UTF-8 lead byte and its continuation bytes.
wchar_t ReadUtf8(int fd, std::uint8_t lead) {
  int extra = 0;
  std::uint32_t code = lead;
  if ((lead & 0xE0U) == 0xC0U) {
    extra = 1;
    code = lead & 0x1FU;
  } else if ((lead & 0xF0U) == 0xE0U) {
    extra = 2;
    code = lead & 0x0FU;
  } else if ((lead & 0xF8U) == 0xF0U) {
    extra = 3;
    code = lead & 0x07U;
  }
  for (int i = 0; i < extra; ++i) {
    std::uint8_t byte = 0;
    if (ReadByte(fd, &byte, kFollowMs) != 1 || (byte & 0xC0U) != 0x80U)
      return static_cast<wchar_t>(0xFFFD);
    code = (code << 6U) | (byte & 0x3FU);
  }
  return static_cast<wchar_t>(code);
}

}  // namespace

bool PosixConsoleIo::IsConsole(Stream stream) {
  return ::isatty(stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

void PosixConsoleIo::Write(Stream stream, const std::uint8_t* bytes, std::size_t count) {
  const int fd = stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO;
  while (count > 0) {
    const ssize_t n = ::write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

InputHandle PosixConsoleIo::OpenInput() {
  const int fd = ::open(terminal_, O_RDWR | O_NOCTTY | O_CLOEXEC);  // NOLINT(*-vararg)
  if (fd < 0) return kNoInput;
  if (::isatty(fd) != 1) {
    ::close(fd);
    return kNoInput;
  }
  return fd;
}

bool PosixConsoleIo::GetSessionId(std::uint32_t* /*session*/) {
  return false;
}

void PosixConsoleIo::CloseInput(InputHandle input) {
  ::close(Fd(input));
}

bool PosixConsoleIo::GetInputMode(InputHandle input, std::uint32_t* mode) {
  *mode = 0;
  if (::tcgetattr(Fd(input), &saved_) != 0) return false;
  haveSaved_ = true;
  if ((saved_.c_lflag & ECHO) != 0) *mode |= kModeEchoInput;
  if ((saved_.c_lflag & ICANON) != 0) *mode |= kModeLineInput;
  if ((saved_.c_lflag & ISIG) != 0) *mode |= kModeProcessedInput;
  savedMode_ = *mode;
  return true;
}

bool PosixConsoleIo::SetInputMode(InputHandle input, std::uint32_t mode) {
  if (!haveSaved_) return false;
  // The mode that was read gives back the terminal's settings exactly as they
  // were, VMIN and VTIME included.
  if (mode == savedMode_) return ::tcsetattr(Fd(input), TCSANOW, &saved_) == 0;
  termios settings = saved_;
  const auto set = [&settings](bool on, tcflag_t flag) {
    settings.c_lflag = on ? (settings.c_lflag | flag) : (settings.c_lflag & ~flag);
  };
  set((mode & kModeEchoInput) != 0, ECHO);
  set((mode & kModeLineInput) != 0, ICANON);
  set((mode & kModeProcessedInput) != 0, ISIG);
  if ((mode & kModeLineInput) == 0) {
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
  }
  // TCSANOW keeps keys already typed: they count as presses.
  return ::tcsetattr(Fd(input), TCSANOW, &settings) == 0;
}

bool PosixConsoleIo::ReadInput(InputHandle input, InputEvent* event, std::uint32_t* count) {
  const int fd = Fd(input);
  *count = 0;
  std::uint8_t byte = 0;
  const int got = ReadByte(fd, &byte, -1);
  if (got < 0) return false;
  if (got == 0) return true;
  *event = InputEvent{};
  event->kind = InputEvent::Kind::Key;
  event->keyDown = true;
  *count = 1;
  if (byte == 0x1B) {
    std::uint8_t next = 0;
    if (ReadByte(fd, &next, kFollowMs) != 1) {
      event->character = 0x1B;  // Escape on its own
    } else if (next == '[' || next == 'O') {
      event->virtualKey = ReadEscapeKey(fd, next);
      if (event->virtualKey == 0) event->character = 0x1B;  // a key this table does not name
    } else {
      event->character = next >= 0x80 ? ReadUtf8(fd, next) : static_cast<wchar_t>(next);  // Alt+key
    }
    return true;
  }
  if (byte == 0) {
    event->character = L' ';  // Ctrl+Space
  } else {
    event->character = byte >= 0x80 ? ReadUtf8(fd, byte) : static_cast<wchar_t>(byte);
  }
  return true;
}

}  // namespace drvflip::platform
