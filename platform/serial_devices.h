// The serial devices of the machine and the ports named on the command line.
//
// A PORT is "COMn", "COMn=PATH" (COMn standing for PATH), a device path, a
// name under /dev/serial/by-id, or "usb:VID:PID[:SERIAL]" matched against the
// USB serial adapters present. Listing never opens a port: opening raises
// DTR, and many boards reset on that.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// Where the machine's devices are described; tests point these at a fake tree.
struct DeviceTree {
  std::string devRoot = "/dev";
  std::string sysRoot = "/sys";
  // 0 when the user may read and write `path`, else the error (errno) that
  // says why not. Empty: the operating system's own check.
  std::function<int(const std::string& path)> accessError;
};

// Whether the user may open a device, as far as the system tells before it is opened.
enum class PortAccess {
  Allowed,
  Denied,   // the device's permissions keep the user out
  Unknown,  // only opening it would tell: Windows sets no rights on COM ports, and another program may hold one
};

struct SerialDevice {
  std::string name;               // "ttyUSB0"; on Windows "COM3"
  std::string path;               // "/dev/ttyUSB0"; on Windows "\\.\COM3"
  std::string friendlyName;       // on Windows the name the system shows: "USB Serial Port (COM3)"
  std::vector<std::string> byId;  // stable names, full paths under /dev/serial/by-id
  std::string driver;             // "ftdi_sio", "cdc_acm", "serial8250"; on Windows the driver's
                                  // service ("usbser", "FTDIBUS"), else the device object
  bool usb = false;
  std::string vendorId, productId;  // four hex digits each
  std::string manufacturer, product, serial;
  PortAccess access = PortAccess::Allowed;
  std::string accessAdvice;  // when Denied why, and what to do; when Unknown what may keep it closed
};

// Every serial device present: USB adapters by number, then ACM devices,
// then the on-board ports that have a UART.
std::vector<SerialDevice> ListSerialDevices(const DeviceTree& tree);

// The COM1 to COM4 mapping: the dialog's discovery with "COMn=PATH" arguments
// applied (on Windows the names themselves). False and `error` on a bad argument.
bool ComMapping(const DeviceTree& tree, const std::vector<std::string>& mappings, std::array<std::string, 4>& devices,
                std::string& error);

// A port to try: the name the user knows it by and what is opened.
struct PortTarget {
  std::string label;      // "COM3", "/dev/ttyUSB0", "usb:0403:6001" ... as given
  std::string path;       // the device opened; empty when nothing stands behind the name
  std::string byId;       // its stable name, where there is one
  std::string usbSerial;  // the adapter's serial number, where known
  std::string missing;    // why `path` is empty
  // What the target is resolved from again, before each run of a station
  // that loops: the PORT as given, or, where it named several adapters, the
  // one adapter this target stands for.
  std::string argument;
  // What is looked at again when a device answers (see StillNamed): a path
  // that must still lead to `path`, and the sysfs device of the adapter whose
  // serial number must still be `usbSerial`; empty where there is none. On
  // Windows both stay empty: the COM port `path` names must still have the
  // adapter whose serial number is `usbSerial`, where there is one.
  std::string follow;
  std::string sysDevice;
};

enum class PortArgumentKind { ComName, ComMapping, UsbId, ById, Path, Invalid };

struct PortArgument {
  PortArgumentKind kind = PortArgumentKind::Invalid;
  std::string text;                      // as given
  unsigned comNumber = 0;                // ComName, ComMapping
  std::string path;                      // ComMapping, Path, ById
  unsigned vendorId = 0, productId = 0;  // UsbId
  std::string serial;                    // UsbId, optional
};

// "COMn" with n from 1 up, in any letter case: n; 0 when `text` is none.
// The one reading of a COM name, in every program.
unsigned ComNumber(std::string_view text);
// `text` as it may stand in a one-line message: control characters show as '?'.
std::string Printable(std::string_view text);
// The message for an argument that is no COMn=DEVICE with n from 1 to `highest`.
std::string BadPortMapping(std::string_view argument, unsigned highest);

// The kind of one PORT argument; Invalid with `error` set when it is none.
PortArgument ParsePortArgument(const std::string& text, std::string& error);

// What a PORT that names nothing present is: an error, or a port that waits
// for its adapter (a target with an empty path and `missing` saying why).
enum class Absent { Error, Wait };

// The ports the arguments name, in order (a usb: argument names every adapter
// that matches). False and `error` on an argument that names no port.
bool ResolvePorts(const std::vector<std::string>& arguments, const DeviceTree& tree, std::vector<PortTarget>& targets,
                  std::string& error, Absent absent = Absent::Error);

// `target` resolved again from its argument as the machine stands now: the
// device its name stands for at this moment (links followed again, the USB
// adapters listed again), that device's stable name and serial number; an
// empty path and `missing` when nothing stands behind the name. The label
// is kept. Reads the file system; never opens a port.
void ResolveAgain(const DeviceTree& tree, PortTarget& target);

// `target` as its argument resolves now: `found`, or nothing (empty, with
// `error` saying why). Of several adapters that fit, the one the target
// stood for stays its own (`samePath` compares device names as the system
// does). The label and the argument are kept. Each platform's ResolveAgain
// ends with it.
void TakeResolution(PortTarget& target, std::vector<PortTarget> found, const std::string& error,
                    bool (*samePath)(const std::string&, const std::string&));

// Whether the device at `target.path` is still what the target's name stands
// for: its link or path still leads there, its adapter still has the serial
// number found. Allocates nothing (another port's run may be serving while
// this is asked): it follows links and reads sysfs into fixed buffers.
bool StillNamed(const PortTarget& target);

// COM1 to COM4, as the dialog scans them.
std::vector<PortTarget> DefaultScanPorts(const DeviceTree& tree);

}  // namespace tarnwick

// Platform parts the runs are built from.
#include <memory>

#include "image_file.h"
#include "serial_port.h"

namespace tarnwick {

// The platform's serial port. It opens the names it is given as they stand:
// device paths, and on Windows COM names ("COM12") as well.
std::unique_ptr<SerialPort> MakeSerialPort();
std::unique_ptr<ImageFile> MakeImageFile();

// What to do about `path`, which could not be opened for `error`: join the
// group that owns it, plug the adapter in, close the program that holds it...
std::string OpenAdvice(const std::string& path, const PortError& error);

}  // namespace tarnwick
