// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// IoChannel: one reader's device interface opened for overlapped I/O, with
// the event on which each request's completion is awaited. IoctlSync sends a
// device control request and waits for it, so callers see a synchronous call.
#pragma once

#include <cstdint>

#include "console/console.h"
#include "platform/platform.h"

namespace drvflip::reader {

class IoChannel {
 public:
  IoChannel(platform::Kernel& kernel, console::Console& console)
      : kernel_(kernel), console_(console) {}
  IoChannel(const IoChannel&) = delete;
  IoChannel& operator=(const IoChannel&) = delete;
  IoChannel(IoChannel&&) = delete;
  IoChannel& operator=(IoChannel&&) = delete;
  // Closes the channel if it is open.
  ~IoChannel();

  // Opens the device at path for overlapped read/write and creates the
  // auto-reset completion event. False (with its message printed) if the
  // channel is already open or either step fails; a failed Open leaves a
  // closed channel closed.
  bool Open(const wchar_t* path);
  // Closes the event, then the device. Failures are warnings; the channel is
  // closed afterwards whatever happened.
  void Close();
  [[nodiscard]] bool IsOpen() const { return device_ != platform::InvalidHandle(); }

  // Sends one device control request and waits for its completion, without a
  // time limit. bytesReturned, where given, receives the count of bytes the
  // driver put into output.
  bool IoctlSync(std::uint32_t code, const void* input, std::uint32_t inputSize, void* output,
                 std::uint32_t outputSize, std::uint32_t* bytesReturned);

 private:
  platform::Kernel& kernel_;
  console::Console& console_;
  platform::Handle device_ = platform::InvalidHandle();
  platform::Handle event_ = nullptr;
};

}  // namespace drvflip::reader
