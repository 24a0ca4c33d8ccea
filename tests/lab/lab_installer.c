// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
/*
 * Adds and removes the root-enumerated test devices that the test switch
 * driver serves, in a Wine prefix of the lab's own.
 *   lab_installer add N INF     create ROOT\DRVFLIPTEST\000N and install the INF on it
 *   lab_installer remove N      remove ROOT\DRVFLIPTEST\000N
 * Exit status 0 on success; otherwise a message on standard error.
 */
#include <windows.h>
#include <newdev.h>
#include <setupapi.h>
#include <stdio.h>
#include <wchar.h>

static const GUID kSystemClass = {0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
static const WCHAR kHardwareIds[] = L"ROOT\\DRVFLIPTEST\0";

static int Fail(const char* what) {
  fprintf(stderr, "lab_installer: %s failed with error 0x%08lX\n", what, GetLastError());
  return 1;
}

static int Add(const WCHAR* instance, const WCHAR* inf) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kSystemClass, NULL);
  SP_DEVINFO_DATA device;
  BOOL reboot = FALSE;
  WCHAR fullInf[MAX_PATH];
  ZeroMemory(&device, sizeof(device));
  device.cbSize = sizeof(device);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  if (!SetupDiCreateDeviceInfoW(set, instance, &kSystemClass, NULL, NULL, 0, &device)) {
    SetupDiDestroyDeviceInfoList(set);
    return Fail("SetupDiCreateDeviceInfoW");
  }
  if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, (const BYTE*)kHardwareIds,
                                         sizeof(kHardwareIds))) {
    SetupDiDestroyDeviceInfoList(set);
    return Fail("SetupDiSetDeviceRegistryPropertyW");
  }
  if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) {
    SetupDiDestroyDeviceInfoList(set);
    return Fail("SetupDiCallClassInstaller(DIF_REGISTERDEVICE)");
  }
  SetupDiDestroyDeviceInfoList(set);
  if (GetFullPathNameW(inf, MAX_PATH, fullInf, NULL) == 0) return Fail("GetFullPathNameW");
  if (!UpdateDriverForPlugAndPlayDevicesW(NULL, L"ROOT\\DRVFLIPTEST", fullInf, INSTALLFLAG_FORCE, &reboot)) {
    return Fail("UpdateDriverForPlugAndPlayDevicesW");
  }
  return 0;
}

static int Remove(const WCHAR* instance) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
  SP_DEVINFO_DATA device;
  int result = 0;
  ZeroMemory(&device, sizeof(device));
  device.cbSize = sizeof(device);
  if (set == INVALID_HANDLE_VALUE) return Fail("SetupDiCreateDeviceInfoList");
  if (!SetupDiOpenDeviceInfoW(set, instance, NULL, 0, &device)) {
    result = Fail("SetupDiOpenDeviceInfoW");
  } else if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
    result = Fail("SetupDiCallClassInstaller(DIF_REMOVE)");
  }
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

int wmain(int argc, WCHAR** argv) {
  WCHAR instance[64];
  if (argc >= 3) swprintf(instance, 64, L"ROOT\\DRVFLIPTEST\\%04d", _wtoi(argv[2]));
  if (argc == 4 && wcscmp(argv[1], L"add") == 0) return Add(instance, argv[3]);
  if (argc == 3 && wcscmp(argv[1], L"remove") == 0) return Remove(instance);
  fprintf(stderr, "usage: lab_installer add N INF | remove N\n");
  return 2;
}
