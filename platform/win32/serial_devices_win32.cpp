// The machine's serial ports on Windows: the COM ports SetupAPI reports, with
// the USB adapter behind each, and the registry's SERIALCOMM list for those
// it does not (virtual ports, Wine's). Nothing is opened.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <algorithm>
#include <string_view>

#include "serial_devices.h"
#include "usb_match.h"
#include "wide_text.h"
#include "win32_image_file.h"
#include "win32_serial_port.h"

namespace tarnwick {
namespace {

using win32::Narrow;
using win32::NarrowInto;

// The devices that offer a COM port interface, and those of the Ports class
// (some adapters' drivers offer no interface).
constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// The product name the USB device reports for itself.
const DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};

constexpr std::size_t kIdChars = 3 * MAX_DEVICE_ID_LEN + 1;  // a device ID in UTF-8
constexpr std::size_t kNameChars = 64;

// A COM name without the "\\.\" a device path puts before it.
std::string_view ComNameOf(std::string_view path) { return path.starts_with("\\\\.\\") ? path.substr(4) : path; }

// The IDs of one device, in UTF-8: its instance ID, its first hardware ID,
// and its parent's instance ID (the USB device above a driver's own bus, or
// above one interface of a composite adapter).
struct DeviceIds {
  char instance[kIdChars] = {};
  char hardware[kIdChars] = {};
  char parent[kIdChars] = {};
};

void ReadIds(HDEVINFO set, SP_DEVINFO_DATA& data, DeviceIds& ids) {
  ids = DeviceIds{};
  wchar_t text[MAX_DEVICE_ID_LEN + 1] = {};
  if (::SetupDiGetDeviceInstanceIdW(set, &data, text, MAX_DEVICE_ID_LEN, nullptr)) {
    NarrowInto(text, ids.instance, sizeof ids.instance);
  }
  // A list of strings; the first is the most specific.
  wchar_t hardware[MAX_DEVICE_ID_LEN + 2] = {};
  if (::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(hardware),
                                          sizeof hardware - 2 * sizeof(wchar_t), nullptr)) {
    NarrowInto(hardware, ids.hardware, sizeof ids.hardware);
  }
  DEVINST parent = 0;
  text[0] = L'\0';
  if (::CM_Get_Parent(&parent, data.DevInst, 0) == CR_SUCCESS &&
      ::CM_Get_Device_IDW(parent, text, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS) {
    text[MAX_DEVICE_ID_LEN] = L'\0';
    NarrowInto(text, ids.parent, sizeof ids.parent);
  }
}

// Calls visit(set, data, portName) for each COM port SetupAPI reports, the
// name in UTF-8, until it returns false. Allocates nothing itself.
template <typename Visit>
void ForEachComPort(Visit&& visit) {
  const struct {
    const GUID* guid;
    DWORD flags;
  } sources[] = {{&kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE}, {&kPortsClass, DIGCF_PRESENT}};
  for (const auto& source : sources) {
    const HDEVINFO set = ::SetupDiGetClassDevsW(source.guid, nullptr, nullptr, source.flags);
    if (set == INVALID_HANDLE_VALUE) continue;
    bool more = true;
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD index = 0; more && ::SetupDiEnumDeviceInfo(set, index, &data); ++index) {
      const HKEY key = ::SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
      if (key == INVALID_HANDLE_VALUE) continue;
      wchar_t name[kNameChars] = {};
      DWORD type = 0;
      DWORD size = sizeof name - sizeof(wchar_t);
      const LONG status = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
      ::RegCloseKey(key);
      if (status != ERROR_SUCCESS || type != REG_SZ || name[0] == L'\0') continue;
      char portName[kNameChars * 3];
      NarrowInto(name, portName, sizeof portName);
      // The Ports class holds the printer ports too.
      if (std::string_view(portName).starts_with("LPT")) continue;
      more = visit(set, data, static_cast<const char*>(portName));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    if (!more) return;
  }
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
  wchar_t text[512] = {};
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &data, property, &type, reinterpret_cast<BYTE*>(text),
                                           sizeof text - sizeof(wchar_t), nullptr) ||
      type != REG_SZ) {
    return {};
  }
  return Narrow(text);
}

std::string BusReportedName(HDEVINFO set, SP_DEVINFO_DATA& data) {
  wchar_t text[512] = {};
  DEVPROPTYPE type = 0;
  if (!::SetupDiGetDevicePropertyW(set, &data, &kBusReportedDeviceDesc, &type, reinterpret_cast<BYTE*>(text),
                                   sizeof text - sizeof(wchar_t), nullptr, 0) ||
      type != DEVPROP_TYPE_STRING) {
    return {};
  }
  return Narrow(text);
}

bool SameName(std::string_view a, std::string_view b) { return SameUsbSerial(ComNameOf(a), ComNameOf(b)); }

SerialDevice DescribeDevice(HDEVINFO set, SP_DEVINFO_DATA& data, const char* portName) {
  ComPortProperties port;
  port.portName = portName;
  port.friendlyName = Property(set, data, SPDRP_FRIENDLYNAME);
  port.service = Property(set, data, SPDRP_SERVICE);  // "usbser", "FTDIBUS", "Serial"...
  port.manufacturer = Property(set, data, SPDRP_MFG);
  port.busReportedName = BusReportedName(set, data);
  DeviceIds ids;
  ReadIds(set, data, ids);
  port.instanceId = ids.instance;
  port.hardwareId = ids.hardware;
  port.parentId = ids.parent;
  return DescribeComPort(port);
}

// The ports the registry's SERIALCOMM list names, with the device object each is.
void AddSerialComm(std::vector<SerialDevice>& devices) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD valueNameLength = sizeof valueName / sizeof valueName[0];
    wchar_t data[256] = {};
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = ::RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ || data[0] == L'\0') continue;
    std::string name = Narrow(data);
    const auto known = std::find_if(devices.begin(), devices.end(),
                                    [&](const SerialDevice& device) { return SameName(device.name, name); });
    if (known != devices.end()) {
      if (known->driver.empty()) known->driver = Narrow(valueName);
      continue;
    }
    ComPortProperties port;
    port.portName = std::move(name);
    port.service = Narrow(valueName);  // the device object, such as \Device\Serial0
    devices.push_back(DescribeComPort(port));
  }
  ::RegCloseKey(key);
}

// The adapter serial number of the device `target.path` names, where it has one.
void Describe(PortTarget& target, const std::vector<SerialDevice>& devices) {
  for (const SerialDevice& device : devices) {
    if (!SameName(device.name, target.path)) continue;
    target.usbSerial = device.usb ? device.serial : std::string();
    return;
  }
}

// What one PORT argument stands for now, appended to `out`; false and `error`
// when it names no port. COM names and device paths do not move when adapters
// come and go: what one names is fixed by the argument alone, and absent is
// never known before the port is opened.
bool ResolveArgument(const std::string& argument, const std::vector<SerialDevice>& devices,
                     std::vector<PortTarget>& out, std::string& error) {
  const PortArgument parsed = ParsePortArgument(argument, error);
  PortTarget target;
  target.label = argument;
  target.argument = argument;
  switch (parsed.kind) {
    case PortArgumentKind::Invalid:
      return false;
    case PortArgumentKind::ComName:
      target.label = "COM" + std::to_string(parsed.comNumber);
      target.path = target.label;
      break;
    case PortArgumentKind::ComMapping: {
      target.label = "COM" + std::to_string(parsed.comNumber);
      std::string ignored;
      const PortArgument mapped = ParsePortArgument(parsed.path, ignored);
      target.path = mapped.kind == PortArgumentKind::ComName ? "COM" + std::to_string(mapped.comNumber) : parsed.path;
      break;
    }
    case PortArgumentKind::Path:
      target.path = parsed.path;
      break;
    case PortArgumentKind::UsbId: {
      const std::vector<const SerialDevice*> matches = MatchUsb(parsed, devices);
      for (const SerialDevice* device : matches) {
        PortTarget match;
        match.label = argument;
        match.path = device->name;
        // Each of several adapters is its own port from now on: by its serial
        // number, else by its COM name.
        match.argument = matches.size() == 1             ? argument
                         : !UsbArgument(*device).empty() ? UsbArgument(*device)
                                                         : device->name;
        match.usbSerial = device->serial;
        out.push_back(std::move(match));
      }
      if (matches.empty()) {
        target.missing = "no USB serial adapter with that ID is plugged in";
        out.push_back(std::move(target));
      }
      return true;
    }
    case PortArgumentKind::ById:
      error = "\"" + Printable(argument) +
              "\": on Windows a port is COMn, usb:VID:PID[:SERIAL] or a device path such as \\\\.\\COM12";
      return false;
  }
  Describe(target, devices);
  out.push_back(std::move(target));
  return true;
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices(const DeviceTree&) {
  std::vector<SerialDevice> devices;
  ForEachComPort([&](HDEVINFO set, SP_DEVINFO_DATA& data, const char* portName) {
    const bool known = std::any_of(devices.begin(), devices.end(),
                                   [&](const SerialDevice& device) { return SameName(device.name, portName); });
    if (!known) devices.push_back(DescribeDevice(set, data, portName));
    return true;
  });
  AddSerialComm(devices);
  std::stable_sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
    const unsigned left = ComNumber(a.name), right = ComNumber(b.name);
    return left != right ? left < right : a.name < b.name;
  });
  return devices;
}

bool ComMapping(const DeviceTree&, const std::vector<std::string>& mappings, std::array<std::string, 4>& devices,
                std::string& error) {
  for (std::size_t i = 0; i < devices.size(); ++i) devices[i] = "COM" + std::to_string(i + 1);
  for (const std::string& mapping : mappings) {
    const PortArgument parsed = ParsePortArgument(mapping, error);
    if (parsed.kind != PortArgumentKind::ComMapping || parsed.comNumber > devices.size()) {
      error = BadPortMapping(mapping, static_cast<unsigned>(devices.size()));
      return false;
    }
    devices[parsed.comNumber - 1] = parsed.path;
  }
  return true;
}

std::vector<PortTarget> DefaultScanPorts(const DeviceTree&) {
  std::vector<PortTarget> targets;
  for (unsigned n = 1; n <= 4; ++n) {
    PortTarget target;
    target.label = "COM" + std::to_string(n);
    target.path = target.label;  // opened by name, as the dialog opens it
    targets.push_back(std::move(target));
  }
  return targets;
}

bool ResolvePorts(const std::vector<std::string>& arguments, const DeviceTree& tree, std::vector<PortTarget>& targets,
                  std::string& error, Absent) {
  const std::vector<SerialDevice> devices = ListSerialDevices(tree);
  std::vector<PortTarget> resolved;
  for (const std::string& argument : arguments) {
    if (!ResolveArgument(argument, devices, resolved, error)) return false;
  }
  targets = std::move(resolved);
  return true;
}

void ResolveAgain(const DeviceTree& tree, PortTarget& target) {
  const std::string& argument = target.argument.empty() ? target.label : target.argument;
  std::vector<PortTarget> found;
  std::string error;
  const bool resolved = ResolveArgument(argument, ListSerialDevices(tree), found, error);
  TakeResolution(target, resolved ? std::move(found) : std::vector<PortTarget>{}, error,
                 [](const std::string& a, const std::string& b) { return SameName(a, b); });
}

bool StillNamed(const PortTarget& target) {
  if (target.path.empty()) return false;
  if (target.usbSerial.empty()) return true;
  // The adapter on that COM port now must be the one found.
  bool still = false;
  DeviceIds ids;
  ForEachComPort([&](HDEVINFO set, SP_DEVINFO_DATA& data, const char* portName) {
    if (!SameName(portName, target.path)) return true;
    ReadIds(set, data, ids);
    UsbDeviceId usb;
    still = UsbIdentity(ids.instance, ids.hardware, ids.parent, usb) && SameUsbSerial(usb.serial, target.usbSerial);
    return false;
  });
  return still;
}

std::unique_ptr<SerialPort> MakeSerialPort() { return std::make_unique<win32::Win32SerialPort>(); }

std::unique_ptr<ImageFile> MakeImageFile() { return std::make_unique<win32::Win32ImageFile>(); }

std::string OpenAdvice(const std::string&, const PortError& error) {
  switch (error.kind) {
    case PortErrorKind::NotFound:
      return "there is no such port: is the adapter plugged in? \"tarnwick-cli ports\" lists the ports present";
    case PortErrorKind::InUse:
      if (error.holderPid != 0) {
        const std::string name =
            error.holderName != nullptr && *error.holderName != '\0' ? error.holderName : "the program";
        return "close " + name + " (pid " + std::to_string(error.holderPid) +
               "), which holds it, or choose another port";
      }
      return "close the program that holds it, or choose another port";
    case PortErrorKind::PermissionDenied:
      return "another program may hold it, or your user may not open it";
    case PortErrorKind::Gone:
      return "the device went away: check the adapter and its cable";
    case PortErrorKind::NotATerminal:
    case PortErrorKind::None:
    case PortErrorKind::Other:
      break;
  }
  return "check that this is the port the device is on (\"tarnwick-cli ports\" lists them)";
}

}  // namespace tarnwick
