// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// Forwarders to Win32. The seam's records mirror the platform's; the checks
// below hold them to the platform's own definitions, so that each size field
// the program sets is what this process's SetupAPI expects.
#include "platform/win/win_platform.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on
// The seam's names are the calls' own; these are <windows.h>'s A/W macros.
#undef CreateFile
#undef CreateEvent

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace drvflip::platform {

static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(sizeof(DevInfoData) == sizeof(SP_DEVINFO_DATA));
static_assert(offsetof(DevInfoData, devInst) == offsetof(SP_DEVINFO_DATA, DevInst));
static_assert(offsetof(DevInfoData, reserved) == offsetof(SP_DEVINFO_DATA, Reserved));
static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(offsetof(DeviceInterfaceData, reserved) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(kDetailFixedSize == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
static_assert(kDetailPathOffset == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));
static_assert(sizeof(wchar_t) == sizeof(WCHAR));
static_assert(sizeof(Overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(Overlapped, offset) == offsetof(OVERLAPPED, Offset));
static_assert(offsetof(Overlapped, event) == offsetof(OVERLAPPED, hEvent));
static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kOpenExisting == OPEN_EXISTING && kFileFlagOverlapped == FILE_FLAG_OVERLAPPED);
static_assert(kDigcfPresent == DIGCF_PRESENT && kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS && kErrorIoPending == ERROR_IO_PENDING);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kModeProcessedInput == ENABLE_PROCESSED_INPUT &&
              kModeLineInput == ENABLE_LINE_INPUT && kModeEchoInput == ENABLE_ECHO_INPUT);
static_assert(kModeVirtualTerminalInput == ENABLE_VIRTUAL_TERMINAL_INPUT);

namespace {

const GUID* AsGuid(const Guid& guid) {
  return reinterpret_cast<const GUID*>(&guid);  // NOLINT(*-reinterpret-cast)
}

HANDLE StdHandle(Stream stream) {
  return ::GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

HANDLE AsHandle(InputHandle input) {
  return reinterpret_cast<HANDLE>(input);  // NOLINT(*-reinterpret-cast,*-no-int-to-ptr)
}

}  // namespace

// The seam's records are the platform's (checked above): the casts only name them.
// NOLINTBEGIN(*-reinterpret-cast,*-union-access,*-no-int-to-ptr,*-const-cast)
DevInfoSet WinDeviceSetup::GetClassDevs(const Guid& classGuid, std::uint32_t flags) {
  return ::SetupDiGetClassDevsW(AsGuid(classGuid), nullptr, nullptr, flags);
}

bool WinDeviceSetup::EnumDeviceInfo(DevInfoSet set, std::uint32_t index, DevInfoData* data) {
  return ::SetupDiEnumDeviceInfo(set, index, reinterpret_cast<SP_DEVINFO_DATA*>(data)) != FALSE;
}

bool WinDeviceSetup::EnumDeviceInterfaces(DevInfoSet set, DevInfoData* device,
                                          const Guid& interfaceClass, std::uint32_t member,
                                          DeviceInterfaceData* data) {
  return ::SetupDiEnumDeviceInterfaces(set, reinterpret_cast<SP_DEVINFO_DATA*>(device),
                                       AsGuid(interfaceClass), member,
                                       reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data)) != FALSE;
}

bool WinDeviceSetup::GetDeviceInterfaceDetail(DevInfoSet set, DeviceInterfaceData* data,
                                              DeviceInterfaceDetailData* detail,
                                              std::uint32_t detailSize,
                                              std::uint32_t* requiredSize) {
  DWORD required = 0;
  const BOOL ok = ::SetupDiGetDeviceInterfaceDetailW(
      set, reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data),
      reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail), detailSize,
      requiredSize != nullptr ? &required : nullptr, nullptr);
  if (requiredSize != nullptr) *requiredSize = required;
  return ok != FALSE;
}

bool WinDeviceSetup::DestroyDeviceInfoList(DevInfoSet set) {
  return ::SetupDiDestroyDeviceInfoList(set) != FALSE;
}

Handle WinKernel::CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) {
  return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
}

Handle WinKernel::CreateEvent(bool manualReset, bool initialState) {
  return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
}

bool WinKernel::DeviceIoControl(Handle device, std::uint32_t code, const void* input,
                                std::uint32_t inputSize, void* output, std::uint32_t outputSize,
                                std::uint32_t* bytesReturned, Overlapped* overlapped) {
  static_assert(sizeof(std::uint32_t) == sizeof(DWORD));
  return ::DeviceIoControl(device, code, const_cast<void*>(input), inputSize, output,
                           outputSize,  // NOLINT
                           reinterpret_cast<DWORD*>(bytesReturned),
                           reinterpret_cast<OVERLAPPED*>(overlapped)) != FALSE;
}

bool WinKernel::GetOverlappedResult(Handle device, Overlapped* overlapped,
                                    std::uint32_t* bytesReturned, bool wait) {
  return ::GetOverlappedResult(device, reinterpret_cast<OVERLAPPED*>(overlapped),
                               reinterpret_cast<DWORD*>(bytesReturned),
                               wait ? TRUE : FALSE) != FALSE;
}

bool WinKernel::CloseHandle(Handle handle) {
  return ::CloseHandle(handle) != FALSE;
}

std::uint32_t WinKernel::GetLastError() {
  return ::GetLastError();
}

void* WinKernel::Allocate(std::size_t size) {
  return ::HeapAlloc(::GetProcessHeap(), 0, size);
}

void WinKernel::Free(void* block) {
  ::HeapFree(::GetProcessHeap(), 0, block);
}

bool WinConsoleIo::IsConsole(Stream stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(StdHandle(stream), &mode) != FALSE;
}

void WinConsoleIo::Write(Stream stream, const std::uint8_t* bytes, std::size_t count) {
  HANDLE out = StdHandle(stream);
  while (count > 0) {
    DWORD written = 0;
    if (::WriteFile(out, bytes, static_cast<DWORD>(count), &written, nullptr) == FALSE ||
        written == 0)
      return;
    bytes += written;
    count -= written;
  }
}

InputHandle WinConsoleIo::OpenInput() {
  HANDLE input =
      ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  return input == INVALID_HANDLE_VALUE ? kNoInput : reinterpret_cast<InputHandle>(input);
}

void WinConsoleIo::CloseInput(InputHandle input) {
  ::CloseHandle(AsHandle(input));
}

bool WinConsoleIo::GetInputMode(InputHandle input, std::uint32_t* mode) {
  DWORD value = 0;
  const bool ok = ::GetConsoleMode(AsHandle(input), &value) != FALSE;
  *mode = value;
  return ok;
}

bool WinConsoleIo::SetInputMode(InputHandle input, std::uint32_t mode) {
  return ::SetConsoleMode(AsHandle(input), mode) != FALSE;
}

bool WinConsoleIo::ReadInput(InputHandle input, InputEvent* event, std::uint32_t* count) {
  INPUT_RECORD record{};
  DWORD read = 0;
  const bool ok = ::ReadConsoleInputW(AsHandle(input), &record, 1, &read) != FALSE;
  *count = read;
  if (!ok || read == 0) return ok;
  // INPUT_RECORD is a union tagged by EventType.
  switch (record.EventType) {
    case KEY_EVENT:
      event->kind = InputEvent::Kind::Key;
      event->keyDown = record.Event.KeyEvent.bKeyDown != FALSE;
      event->virtualKey = record.Event.KeyEvent.wVirtualKeyCode;
      event->character = record.Event.KeyEvent.uChar.UnicodeChar;
      break;
    case MOUSE_EVENT: event->kind = InputEvent::Kind::Mouse; break;
    case FOCUS_EVENT: event->kind = InputEvent::Kind::Focus; break;
    case WINDOW_BUFFER_SIZE_EVENT: event->kind = InputEvent::Kind::WindowSize; break;
    default: event->kind = InputEvent::Kind::Menu; break;
  }
  return true;
}
// NOLINTEND(*-reinterpret-cast,*-union-access,*-no-int-to-ptr,*-const-cast)

bool WinConsoleIo::GetSessionId(std::uint32_t* session) {
  DWORD id = 0;
  const bool ok = ::ProcessIdToSessionId(::GetCurrentProcessId(), &id) != FALSE;
  *session = id;
  return ok;
}

}  // namespace drvflip::platform
