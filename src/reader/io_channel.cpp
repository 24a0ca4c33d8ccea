// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
#include "reader/io_channel.h"

#include <cstdint>

#include "platform/platform.h"

namespace drvflip::reader {

using console::Stream;

IoChannel::~IoChannel() {
  if (IsOpen()) Close();
}

bool IoChannel::Open(const wchar_t* path) {
  if (IsOpen()) {
    console_.Print(Stream::Err, L"ERROR: Open: I/O channel to the device already open\n");
    return false;
  }
  device_ = kernel_.CreateFile(path, platform::kGenericRead | platform::kGenericWrite,
                               platform::kFileShareRead | platform::kFileShareWrite,
                               platform::kOpenExisting, platform::kFileFlagOverlapped);
  if (!IsOpen()) {
    console_.Print(Stream::Err, L"ERROR: Open: CreateFile failed with error 0x%08X.\n",
                   kernel_.GetLastError());
    return false;
  }
  event_ = kernel_.CreateEvent(/*manualReset=*/false, /*initialState=*/false);
  if (event_ == nullptr) {
    console_.Print(Stream::Err, L"ERROR: Open: CreateEvent failed with error 0x%08X.\n",
                   kernel_.GetLastError());
    Close();
    return false;
  }
  return true;
}

void IoChannel::Close() {
  // The event handle is closed as it stands: after a failed event creation it
  // is null, and that failure is reported like any other.
  if (!kernel_.CloseHandle(event_)) {
    console_.Print(Stream::Err, L"WARNING: Close: Close event handle failed with error 0x%08X.\n",
                   kernel_.GetLastError());
  }
  event_ = nullptr;
  if (!kernel_.CloseHandle(device_)) {
    console_.Print(Stream::Err, L"WARNING: Close: Close device handle failed with error 0x%08X.\n",
                   kernel_.GetLastError());
  }
  device_ = platform::InvalidHandle();
}

bool IoChannel::IoctlSync(std::uint32_t code, const void* input, std::uint32_t inputSize,
                          void* output, std::uint32_t outputSize, std::uint32_t* bytesReturned) {
  if (!IsOpen()) {
    console_.Print(Stream::Err, L"ERROR: IoctlSync: no open channel found\n");
    return false;
  }
  platform::Overlapped overlapped{};
  overlapped.event = event_;
  if (kernel_.DeviceIoControl(device_, code, input, inputSize, output, outputSize, bytesReturned,
                              &overlapped)) {
    return true;
  }
  const std::uint32_t error = kernel_.GetLastError();
  if (error == platform::kErrorIoPending) {
    // The wait always stores a count, so it needs a place even when the
    // caller gives none.
    std::uint32_t ownCount = 0;
    std::uint32_t* count = bytesReturned != nullptr ? bytesReturned : &ownCount;
    if (kernel_.GetOverlappedResult(device_, &overlapped, count, /*wait=*/true)) return true;
    console_.Print(Stream::Err,
                   L"ERROR: IoctlSync: GetOverlappedResult failed with error = 0x%08X.\n",
                   kernel_.GetLastError());
    return false;
  }
  console_.Print(Stream::Err, L"ERROR: IoctlSync: DeviceIoControl failed with error = 0x%08X.\n",
                 error);
  return false;
}

}  // namespace drvflip::reader
