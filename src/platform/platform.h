// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// The seam between drvflip and the operating system.
//
// Everything the program needs of Windows is reached through the three
// interfaces below, grouped as the program uses them: device setup (SetupAPI),
// kernel services (kernel32) and the console. The Windows side forwards each
// call to Win32; the simulated side stands in for Windows on Linux and in the
// tests. Nothing above this header includes <windows.h> but the Windows
// entry (app/main_win.cpp), which reads the command line with
// GetCommandLineW and makes the Windows side of the seam.
//
// Each entry states its contract: what it returns on success, what on
// failure, and where the reason for a failure is found.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drvflip::platform {

// An opaque kernel object handle (HANDLE).
using Handle = void*;
// A device information set (HDEVINFO).
using DevInfoSet = void*;

// All bits set: what CreateFileW and SetupDiGetClassDevsW return on failure.
inline Handle InvalidHandle() {
  constexpr auto kAllBits = ~std::uintptr_t{0};
  return reinterpret_cast<Handle>(kAllBits);  // NOLINT(*-reinterpret-cast,*-no-int-to-ptr)
}

// Error codes of the platform's last-error facility that the program tells apart.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;

// CreateFileW and SetupDiGetClassDevsW flags.
inline constexpr std::uint32_t kGenericRead = 0x80000000U;
inline constexpr std::uint32_t kGenericWrite = 0x40000000U;
inline constexpr std::uint32_t kFileShareRead = 0x1U;
inline constexpr std::uint32_t kFileShareWrite = 0x2U;
inline constexpr std::uint32_t kOpenExisting = 3U;
inline constexpr std::uint32_t kFileFlagOverlapped = 0x40000000U;
inline constexpr std::uint32_t kDigcfPresent = 0x2U;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10U;

// The platform's records, laid out as Win32 lays them out; the Windows side
// checks each size and offset against <setupapi.h> and <minwinbase.h> at
// compile time. SetupAPI packs its records to 1 byte in a 32-bit process.
#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(push, 1)
#endif
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];  // NOLINT(*-avoid-c-arrays): mirrors GUID
};

struct DevInfoData {  // SP_DEVINFO_DATA
  std::uint32_t size;
  Guid classGuid;
  std::uint32_t devInst;
  std::uintptr_t reserved;
};

struct DeviceInterfaceData {  // SP_DEVICE_INTERFACE_DATA
  std::uint32_t size;
  Guid interfaceClassGuid;
  std::uint32_t flags;
  std::uintptr_t reserved;
};

struct DeviceInterfaceDetailData {  // SP_DEVICE_INTERFACE_DETAIL_DATA_W, fixed part
  std::uint32_t size;
  wchar_t devicePath[1];  // NOLINT(*-avoid-c-arrays): variable length
};
#if defined(_WIN32) && !defined(_WIN64)
#pragma pack(pop)
#endif

// The size that the size field of a detail record must hold: its fixed part.
inline constexpr std::uint32_t kDetailFixedSize = sizeof(DeviceInterfaceDetailData);
// Where the device path starts in a detail record.
inline constexpr std::size_t kDetailPathOffset = offsetof(DeviceInterfaceDetailData, devicePath);

struct Overlapped {  // OVERLAPPED
  std::uintptr_t internal;
  std::uintptr_t internalHigh;
  std::uint32_t offset;
  std::uint32_t offsetHigh;
  Handle event;
};

// Device setup: the five SetupDi calls, wide-character forms.
class DeviceSetup {
 public:
  DeviceSetup() = default;
  DeviceSetup(const DeviceSetup&) = delete;
  DeviceSetup& operator=(const DeviceSetup&) = delete;
  DeviceSetup(DeviceSetup&&) = delete;
  DeviceSetup& operator=(DeviceSetup&&) = delete;

  // SetupDiGetClassDevsW(classGuid, no enumerator, no window, flags).
  // A set, or InvalidHandle() with the reason in the last-error code.
  virtual DevInfoSet GetClassDevs(const Guid& classGuid, std::uint32_t flags) = 0;
  // SetupDiEnumDeviceInfo. False with 259 once index is past the last device.
  virtual bool EnumDeviceInfo(DevInfoSet set, std::uint32_t index, DevInfoData* data) = 0;
  // SetupDiEnumDeviceInterfaces. False with 259 when there is no such interface.
  virtual bool EnumDeviceInterfaces(DevInfoSet set, DevInfoData* device, const Guid& interfaceClass,
                                    std::uint32_t member, DeviceInterfaceData* data) = 0;
  // SetupDiGetDeviceInterfaceDetailW, with no device record out. With no
  // buffer it fails with 122 and stores the size it needs in *requiredSize.
  virtual bool GetDeviceInterfaceDetail(DevInfoSet set, DeviceInterfaceData* data,
                                        DeviceInterfaceDetailData* detail, std::uint32_t detailSize,
                                        std::uint32_t* requiredSize) = 0;
  // SetupDiDestroyDeviceInfoList. False with the reason in the last-error code.
  virtual bool DestroyDeviceInfoList(DevInfoSet set) = 0;

 protected:
  ~DeviceSetup() = default;
};

// Kernel services: kernel32's file, event, I/O, handle, error and heap calls.
class Kernel {
 public:
  Kernel() = default;
  Kernel(const Kernel&) = delete;
  Kernel& operator=(const Kernel&) = delete;
  Kernel(Kernel&&) = delete;
  Kernel& operator=(Kernel&&) = delete;

  // CreateFileW(path, access, share, no security, disposition, flags, no template).
  // A handle, or InvalidHandle() with the reason in the last-error code.
  virtual Handle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t disposition, std::uint32_t flags) = 0;
  // CreateEventW(no security, manualReset, initialState, no name). Null on failure.
  virtual Handle CreateEvent(bool manualReset, bool initialState) = 0;
  // DeviceIoControl. True when the request completed at once; false with 997
  // when it was queued, or with the reason it failed.
  virtual bool DeviceIoControl(Handle device, std::uint32_t code, const void* input,
                               std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                               std::uint32_t* bytesReturned, Overlapped* overlapped) = 0;
  // GetOverlappedResult. With wait set, blocks until the request completes;
  // true with the byte count stored, false with the reason.
  virtual bool GetOverlappedResult(Handle device, Overlapped* overlapped,
                                   std::uint32_t* bytesReturned, bool wait) = 0;
  // CloseHandle. False with the reason in the last-error code.
  virtual bool CloseHandle(Handle handle) = 0;
  // GetLastError.
  virtual std::uint32_t GetLastError() = 0;
  // HeapAlloc on the process heap: a block of size bytes, or null.
  virtual void* Allocate(std::size_t size) = 0;
  // HeapFree of a block that Allocate returned.
  virtual void Free(void* block) = 0;

 protected:
  ~Kernel() = default;
};

// The two output streams.
enum class Stream : std::uint8_t { Out, Err };

// One console input event, as the key wait needs it.
struct InputEvent {
  enum class Kind : std::uint8_t { Key, Mouse, Focus, WindowSize, Menu };
  Kind kind = Kind::Key;
  bool keyDown = false;
  std::uint16_t virtualKey = 0;
  wchar_t character = 0;
};

// Console input handle: a console input device, or kNoInput.
using InputHandle = std::intptr_t;
inline constexpr InputHandle kNoInput = -1;

// Console input mode bits, as the console's own mode word holds them.
inline constexpr std::uint32_t kModeProcessedInput = 0x1U;  // Ctrl+C is a signal
inline constexpr std::uint32_t kModeLineInput = 0x2U;       // line editing
inline constexpr std::uint32_t kModeEchoInput = 0x4U;       // echo
// Keys as terminal sequences: an arrow arrives as ESC, '[', 'A' key records.
inline constexpr std::uint32_t kModeVirtualTerminalInput = 0x200U;

// The console: output streams and the console input device.
class ConsoleIo {
 public:
  ConsoleIo() = default;
  ConsoleIo(const ConsoleIo&) = delete;
  ConsoleIo& operator=(const ConsoleIo&) = delete;
  ConsoleIo(ConsoleIo&&) = delete;
  ConsoleIo& operator=(ConsoleIo&&) = delete;

  // True when the stream is a console, false for a file, a pipe or nothing.
  virtual bool IsConsole(Stream stream) = 0;
  // Writes the bytes to the stream as they are; errors are not reported.
  virtual void Write(Stream stream, const std::uint8_t* bytes, std::size_t count) = 0;
  // Opens the console input device itself (not standard input); kNoInput when
  // there is no console.
  virtual InputHandle OpenInput() = 0;
  // Closes what OpenInput returned.
  virtual void CloseInput(InputHandle input) = 0;
  // The input mode; false when it cannot be read.
  virtual bool GetInputMode(InputHandle input, std::uint32_t* mode) = 0;
  // Sets the input mode; false when it cannot be set.
  virtual bool SetInputMode(InputHandle input, std::uint32_t mode) = 0;
  // Reads one input event, blocking. False on failure; *count is the number of
  // events read (0 or 1).
  virtual bool ReadInput(InputHandle input, InputEvent* event, std::uint32_t* count) = 0;
  // The session of this process (ProcessIdToSessionId): services and what
  // they start run in session 0, where nobody can press a key. False when it
  // cannot be learnt.
  virtual bool GetSessionId(std::uint32_t* session) = 0;

 protected:
  ~ConsoleIo() = default;
};

// The whole seam, handed down from the entry.
struct Platform {
  DeviceSetup& setup;
  Kernel& kernel;
  ConsoleIo& console;
};

}  // namespace drvflip::platform
