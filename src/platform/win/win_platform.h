// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The Windows side of the seam: each call forwards to Win32.
#pragma once

#include "platform/platform.h"

namespace drvflip::platform {

class WinDeviceSetup final : public DeviceSetup {
 public:
  DevInfoSet GetClassDevs(const Guid& classGuid, std::uint32_t flags) override;
  bool EnumDeviceInfo(DevInfoSet set, std::uint32_t index, DevInfoData* data) override;
  bool EnumDeviceInterfaces(DevInfoSet set, DevInfoData* device, const Guid& interfaceClass,
                            std::uint32_t member, DeviceInterfaceData* data) override;
  bool GetDeviceInterfaceDetail(DevInfoSet set, DeviceInterfaceData* data,
                                DeviceInterfaceDetailData* detail, std::uint32_t detailSize,
                                std::uint32_t* requiredSize) override;
  bool DestroyDeviceInfoList(DevInfoSet set) override;
};

class WinKernel final : public Kernel {
 public:
  Handle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t flags) override;
  Handle CreateEvent(bool manualReset, bool initialState) override;
  bool DeviceIoControl(Handle device, std::uint32_t code, const void* input,
                       std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                       std::uint32_t* bytesReturned, Overlapped* overlapped) override;
  bool GetOverlappedResult(Handle device, Overlapped* overlapped, std::uint32_t* bytesReturned,
                           bool wait) override;
  bool CloseHandle(Handle handle) override;
  std::uint32_t GetLastError() override;
  void* Allocate(std::size_t size) override;
  void Free(void* block) override;
};

class WinConsoleIo final : public ConsoleIo {
 public:
  bool IsConsole(Stream stream) override;
  void Write(Stream stream, const std::uint8_t* bytes, std::size_t count) override;
  InputHandle OpenInput() override;
  void CloseInput(InputHandle input) override;
  bool GetInputMode(InputHandle input, std::uint32_t* mode) override;
  bool SetInputMode(InputHandle input, std::uint32_t mode) override;
  bool ReadInput(InputHandle input, InputEvent* event, std::uint32_t* count) override;
  bool GetSessionId(std::uint32_t* session) override;
};

}  // namespace drvflip::platform
