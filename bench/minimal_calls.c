// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
/*
 * The platform calls that 'drvflip pcsc' makes, in the same order, with no
 * logic around them: the floor against which the benchmark sets drvflip.exe.
 */
#include <windows.h>
#include <setupapi.h>

static const GUID kReader = {0xC4414883, 0x6B5B, 0x44C2, {0xB8, 0x88, 0x7D, 0x04, 0xFE, 0x85, 0x05, 0xD2}};

static void Request(HANDLE device, HANDLE event, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize) {
  OVERLAPPED overlapped;
  DWORD bytes = 0;
  ZeroMemory(&overlapped, sizeof(overlapped));
  overlapped.hEvent = event;
  if (!DeviceIoControl(device, code, in, inSize, out, outSize, &bytes, &overlapped) &&
      GetLastError() == ERROR_IO_PENDING) {
    GetOverlappedResult(device, &overlapped, &bytes, TRUE);
  }
}

int wmain(void) {
  SP_DEVINFO_DATA device;
  SP_DEVICE_INTERFACE_DATA iface;
  DWORD required = 0, written = 0, count = 0;
  SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail;
  HDEVINFO set;
  HANDLE file, event;
  UCHAR info[16];
  ULONG type = 0;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);

  set = SetupDiGetClassDevsW(&kReader, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  for (;;) {
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);
    if (!SetupDiEnumDeviceInfo(set, count, &device)) break;
    ++count;
  }
  SetupDiDestroyDeviceInfoList(set);

  set = SetupDiGetClassDevsW(&kReader, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ZeroMemory(&device, sizeof(device));
  device.cbSize = sizeof(device);
  SetupDiEnumDeviceInfo(set, 0, &device);
  ZeroMemory(&iface, sizeof(iface));
  iface.cbSize = sizeof(iface);
  SetupDiEnumDeviceInterfaces(set, &device, &kReader, 0, &iface);
  SetupDiGetDeviceInterfaceDetailW(set, &iface, NULL, 0, &required, NULL);
  detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, required);
  detail->cbSize = sizeof(*detail);
  SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, required, NULL, NULL);

  file = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                     OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
  HeapFree(GetProcessHeap(), 0, detail);
  SetupDiDestroyDeviceInfoList(set);
  event = CreateEventW(NULL, FALSE, FALSE, NULL);
  Request(file, event, 0x80912248, NULL, 0, info, sizeof(info));
  Request(file, event, 0x8091224C, &type, sizeof(type), NULL, 0);
  Request(file, event, 0x80912250, NULL, 0, &type, sizeof(type));
  CloseHandle(event);
  CloseHandle(file);
  WriteFile(out, "done\r\n", 6, &written, NULL);
  return 0;
}
