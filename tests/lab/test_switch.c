// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
/*
 * A test switch driver for drvflip's end-to-end tests under Wine.
 *
 * A WDM function driver for a root-enumerated test device. It registers and
 * enables the reader interface class and answers the three control requests
 * the way a reader's switch driver does: the 16-byte driver information
 * record, set the driver type (0 or 1), report the active type. The active
 * type is kept per device for as long as the driver stays loaded.
 *
 * Each request reads its behaviour from DWORD values under the device's
 * hardware key (Device Parameters), so a test adjusts a device without a
 * rebuild. Names begin with the request's prefix, Info, Set or Active:
 *   <prefix>Status  complete with this NTSTATUS instead (nothing changes)
 *   <prefix>Bytes   report this many bytes (at most the output buffer)
 *   <prefix>PendMs  return STATUS_PENDING and complete after this many ms
 *   <prefix>Hold    (not 0) return STATUS_PENDING and never complete: the
 *                   request ends only when it is cancelled, as when the
 *                   process that sent it is ended
 * SetKeep (not 0) makes a set request succeed without changing the type.
 * ApiVersion, FileVersion and BuildNumber fill the information record.
 *
 * As the reader's switch driver, it takes each request only with its exact
 * sizes (input and output: 0 and 16, 4 and 0, 0 and 4); any other size fails
 * with STATUS_INFO_LENGTH_MISMATCH. And it writes what each open carried into
 * the same key, for a test to read: OpenAccess (the desired access, as the
 * I/O manager hands it over), OpenShare (the share access) and OpenOptions
 * (the create options; FILE_SYNCHRONOUS_IO_* there means not overlapped).
 */
#include <ddk/wdm.h>

static const GUID kReaderInterface = {
    0xC4414883, 0x6B5B, 0x44C2, {0xB8, 0x88, 0x7D, 0x04, 0xFE, 0x85, 0x05, 0xD2}};

#define CODE_GET_DRIVER_INFO 0x80912248UL
#define CODE_SET_DRIVER_TYPE 0x8091224CUL
#define CODE_GET_ACTIVE_DRIVER 0x80912250UL

typedef struct {
  PDEVICE_OBJECT self;
  PDEVICE_OBJECT pdo;
  PDEVICE_OBJECT lower;
  UNICODE_STRING link;
  ULONG activeType;
} DEVICE_EXTENSION;

typedef struct {
  PIO_WORKITEM item;
  PIRP irp;
  ULONG delayMs;
  NTSTATUS status;
  ULONG_PTR information;
} PENDING_REQUEST;

DRIVER_INITIALIZE DriverEntry;

/* A DWORD under the device's hardware key; dflt when it is not there. */
static ULONG ReadSetting(PDEVICE_OBJECT pdo, PCWSTR name, ULONG dflt, BOOLEAN* found) {
  HANDLE key;
  UNICODE_STRING valueName;
  UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
  PKEY_VALUE_PARTIAL_INFORMATION value = (PKEY_VALUE_PARTIAL_INFORMATION)buffer;
  ULONG length = 0;
  NTSTATUS status;
  if (found) *found = FALSE;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) return dflt;
  RtlInitUnicodeString(&valueName, name);
  status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, sizeof(buffer), &length);
  ZwClose(key);
  if (!NT_SUCCESS(status) || value->Type != REG_DWORD || value->DataLength != sizeof(ULONG)) return dflt;
  if (found) *found = TRUE;
  return *(ULONG*)value->Data;
}

/* Writes a DWORD under the device's hardware key. */
static void WriteSetting(PDEVICE_OBJECT pdo, PCWSTR name, ULONG data) {
  HANDLE key;
  UNICODE_STRING valueName;
  if (!NT_SUCCESS(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_WRITE, &key))) return;
  RtlInitUnicodeString(&valueName, name);
  ZwSetValueKey(key, &valueName, 0, REG_DWORD, &data, sizeof data);
  ZwClose(key);
}

static void PutWord(UCHAR* out, ULONG word) {
  out[0] = (UCHAR)word;
  out[1] = (UCHAR)(word >> 8);
  out[2] = (UCHAR)(word >> 16);
  out[3] = (UCHAR)(word >> 24);
}

static void CompleteLater(PDEVICE_OBJECT device, PVOID context) {
  PENDING_REQUEST* request = (PENDING_REQUEST*)context;
  LARGE_INTEGER interval;
  (void)device;
  interval.QuadPart = -(LONGLONG)request->delayMs * 10000;
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
  request->irp->IoStatus.Status = request->status;
  request->irp->IoStatus.Information = request->information;
  IoCompleteRequest(request->irp, IO_NO_INCREMENT);
  IoFreeWorkItem(request->item);
  ExFreePool(request);
}

/* A held request ends here, when the I/O manager cancels it. */
static void CancelHeld(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  irp->IoStatus.Status = STATUS_CANCELLED;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

static NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  DEVICE_EXTENSION* ext = (DEVICE_EXTENSION*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR information = 0;
  PCWSTR statusName, bytesName, pendName, holdName;
  BOOLEAN haveBytes = FALSE;
  ULONG forcedStatus, bytes, pendMs, wantIn = 0, wantOut = 0;

  switch (code) {
    case CODE_GET_DRIVER_INFO:
      statusName = L"InfoStatus"; bytesName = L"InfoBytes"; pendName = L"InfoPendMs"; holdName = L"InfoHold";
      wantOut = 16;
      break;
    case CODE_SET_DRIVER_TYPE:
      statusName = L"SetStatus"; bytesName = L"SetBytes"; pendName = L"SetPendMs"; holdName = L"SetHold";
      wantIn = 4;
      break;
    case CODE_GET_ACTIVE_DRIVER:
      statusName = L"ActiveStatus"; bytesName = L"ActiveBytes"; pendName = L"ActivePendMs"; holdName = L"ActiveHold";
      wantOut = 4;
      break;
    default:
      irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
      irp->IoStatus.Information = 0;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return STATUS_INVALID_DEVICE_REQUEST;
  }
  forcedStatus = ReadSetting(ext->pdo, statusName, 0, NULL);
  bytes = ReadSetting(ext->pdo, bytesName, 0, &haveBytes);
  pendMs = ReadSetting(ext->pdo, pendName, 0, NULL);

  if (ReadSetting(ext->pdo, holdName, 0, NULL) != 0) {
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelHeld);
    /* Cancelled before the routine was set: it is ours to complete. */
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
      irp->IoStatus.Status = STATUS_CANCELLED;
      irp->IoStatus.Information = 0;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    return STATUS_PENDING;
  }

  if (forcedStatus != 0) {
    status = (NTSTATUS)forcedStatus;
  } else if (inSize != wantIn || outSize != wantOut) {
    status = STATUS_INFO_LENGTH_MISMATCH;
  } else if (code == CODE_GET_DRIVER_INFO) {
    if (outSize < 16 || buffer == NULL) {
      status = STATUS_BUFFER_TOO_SMALL;
    } else {
      PutWord(buffer, ReadSetting(ext->pdo, L"ApiVersion", 0x00010000, NULL));
      PutWord(buffer + 4, ReadSetting(ext->pdo, L"FileVersion", 0x00040002, NULL));
      PutWord(buffer + 8, ReadSetting(ext->pdo, L"BuildNumber", 1234, NULL));
      PutWord(buffer + 12, 0);
      information = 16;
    }
  } else if (code == CODE_SET_DRIVER_TYPE) {
    ULONG type;
    if (inSize < 4 || buffer == NULL) {
      status = STATUS_INVALID_PARAMETER;
    } else {
      type = (ULONG)buffer[0] | ((ULONG)buffer[1] << 8) | ((ULONG)buffer[2] << 16) | ((ULONG)buffer[3] << 24);
      if (type > 1) {
        status = STATUS_INVALID_PARAMETER;
      } else if (ReadSetting(ext->pdo, L"SetKeep", 0, NULL) == 0) {
        ext->activeType = type;
      }
    }
  } else {
    if (outSize < 4 || buffer == NULL) {
      status = STATUS_BUFFER_TOO_SMALL;
    } else {
      PutWord(buffer, ext->activeType);
      information = 4;
    }
  }
  if (NT_SUCCESS(status) && haveBytes) information = bytes < outSize ? bytes : outSize;
  if (!NT_SUCCESS(status)) information = 0;

  if (pendMs != 0) {
    PENDING_REQUEST* request = (PENDING_REQUEST*)ExAllocatePool(NonPagedPool, sizeof(PENDING_REQUEST));
    if (request != NULL) {
      request->item = IoAllocateWorkItem(device);
      if (request->item != NULL) {
        request->irp = irp;
        request->delayMs = pendMs;
        request->status = status;
        request->information = information;
        IoMarkIrpPending(irp);
        IoQueueWorkItem(request->item, CompleteLater, DelayedWorkQueue, request);
        return STATUS_PENDING;
      }
      ExFreePool(request);
    }
  }
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction == IRP_MJ_CREATE) {
    DEVICE_EXTENSION* ext = (DEVICE_EXTENSION*)device->DeviceExtension;
    PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    WriteSetting(ext->pdo, L"OpenAccess", security != NULL ? security->DesiredAccess : 0xFFFFFFFFUL);
    WriteSetting(ext->pdo, L"OpenShare", stack->Parameters.Create.ShareAccess);
    WriteSetting(ext->pdo, L"OpenOptions", stack->Parameters.Create.Options & 0x00FFFFFFUL);
  }
  irp->IoStatus.Status = STATUS_SUCCESS;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return STATUS_SUCCESS;
}

static NTSTATUS OnStarted(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
  (void)device;
  (void)irp;
  KeSetEvent((PKEVENT)context, IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

static NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
  DEVICE_EXTENSION* ext = (DEVICE_EXTENSION*)device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  NTSTATUS status;
  switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
      KEVENT started;
      KeInitializeEvent(&started, NotificationEvent, FALSE);
      IoCopyCurrentIrpStackLocationToNext(irp);
      IoSetCompletionRoutine(irp, OnStarted, &started, TRUE, TRUE, TRUE);
      status = IoCallDriver(ext->lower, irp);
      if (status == STATUS_PENDING) KeWaitForSingleObject(&started, Executive, KernelMode, FALSE, NULL);
      status = irp->IoStatus.Status;
      if (NT_SUCCESS(status)) IoSetDeviceInterfaceState(&ext->link, TRUE);
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return status;
    }
    case IRP_MN_SURPRISE_REMOVAL:
      IoSetDeviceInterfaceState(&ext->link, FALSE);
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoSkipCurrentIrpStackLocation(irp);
      return IoCallDriver(ext->lower, irp);
    case IRP_MN_REMOVE_DEVICE: {
      PDEVICE_OBJECT lower = ext->lower;
      IoSetDeviceInterfaceState(&ext->link, FALSE);
      RtlFreeUnicodeString(&ext->link);
      irp->IoStatus.Status = STATUS_SUCCESS;
      IoSkipCurrentIrpStackLocation(irp);
      status = IoCallDriver(lower, irp);
      IoDetachDevice(lower);
      IoDeleteDevice(device);
      return status;
    }
    default:
      IoSkipCurrentIrpStackLocation(irp);
      return IoCallDriver(ext->lower, irp);
  }
}

static NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
  DEVICE_EXTENSION* ext = (DEVICE_EXTENSION*)device->DeviceExtension;
  PoStartNextPowerIrp(irp);
  IoSkipCurrentIrpStackLocation(irp);
  return PoCallDriver(ext->lower, irp);
}

static NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  PDEVICE_OBJECT device;
  DEVICE_EXTENSION* ext;
  NTSTATUS status = IoCreateDevice(driver, sizeof(DEVICE_EXTENSION), NULL, FILE_DEVICE_UNKNOWN,
                                   FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  ext = (DEVICE_EXTENSION*)device->DeviceExtension;
  ext->self = device;
  ext->pdo = pdo;
  ext->activeType = 0;
  ext->link.Buffer = NULL;
  ext->link.Length = ext->link.MaximumLength = 0;
  status = IoRegisterDeviceInterface(pdo, &kReaderInterface, NULL, &ext->link);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  ext->lower = IoAttachDeviceToDeviceStack(device, pdo);
  device->Flags |= DO_BUFFERED_IO;
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

static void Unload(PDRIVER_OBJECT driver) { (void)driver; }

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  (void)registryPath;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;
  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
  driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
  driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
  return STATUS_SUCCESS;
}
