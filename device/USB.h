#pragma once

// The one path to the instrument: a command exchange over two bulk endpoints.
//
// A request is the 32-bit command code (little-endian) followed by at most MAX_PAYLOAD
// payload bytes, sent as one bulk OUT transfer on EP_COMMAND_OUT; when the caller names a
// reply length, one bulk IN transfer on EP_REPLY_IN reads that many bytes. Replies carry no
// framing, so a reply belongs to the request sent just before it: exchanges must not
// overlap (the download runs behind a modal window, the screen capture on the UI thread).
//
// The module state is process-wide. The backend's notifications decide which instrument
// is held: the first matching device is taken, later ones are refused while it is held,
// and unplugging it frees the slot (a refused device is not taken over then; it has to be
// plugged in again). AttachedDevice is the only state the notifications write.
//
// Statuses: 0 is success, anything else a failure that callers pass on unchanged and the
// operator sees as 8 hexadecimal digits. Link failures are 0x30000000 plus the magnitude
// of the matching libusb error code, whichever backend reports them.

#include <cstddef>
#include <cstdint>
#include <memory>

using TUSBStatus = std::uint32_t;

// Identifies one plugged-in device to its backend; 0 means none. Never reused while a
// backend is open, so a stale id cannot reach another device.
using TUSBDeviceId = std::uintptr_t;

constexpr TUSBStatus STATUS_SUCCESS = 0;
constexpr TUSBStatus STATUS_USB_IO = 0x30000001;
constexpr TUSBStatus STATUS_USB_INVALID_PARAM = 0x30000002;
constexpr TUSBStatus STATUS_USB_ACCESS = 0x30000003;
constexpr TUSBStatus STATUS_USB_NO_DEVICE = 0x30000004;
constexpr TUSBStatus STATUS_USB_NOT_FOUND = 0x30000005;
constexpr TUSBStatus STATUS_USB_BUSY = 0x30000006;
constexpr TUSBStatus STATUS_USB_TIMEOUT = 0x30000007;
constexpr TUSBStatus STATUS_USB_OVERFLOW = 0x30000008;
constexpr TUSBStatus STATUS_USB_PIPE = 0x30000009;
constexpr TUSBStatus STATUS_USB_INTERRUPTED = 0x3000000A;
constexpr TUSBStatus STATUS_USB_NO_MEM = 0x3000000B;
constexpr TUSBStatus STATUS_USB_NOT_SUPPORTED = 0x3000000C;
constexpr TUSBStatus STATUS_USB_OTHER = 0x30000063;
// USBInitialize has not run, failed, or USBFinalize has closed the link.
constexpr TUSBStatus STATUS_USB_NOT_OPEN = 0x30000100;

constexpr std::uint16_t USB_VENDOR_ID = 0x03EB;
constexpr std::uint16_t USB_PRODUCT_ID = 0x0010;
constexpr std::uint8_t USB_DEVICE_CLASS = 0xFF;
constexpr std::uint8_t USB_DEVICE_SUBCLASS = 0xFF;
constexpr std::uint8_t USB_INTERFACE_CLASS = 0xFF;
constexpr std::uint8_t USB_INTERFACE_SUBCLASS = 0xFF;

constexpr std::uint8_t EP_COMMAND_OUT = 0x02;
constexpr std::uint8_t EP_REPLY_IN = 0x81;
constexpr std::size_t MAX_PAYLOAD = 60;
constexpr std::size_t MAX_PACKET = 4 + MAX_PAYLOAD;
constexpr unsigned USB_TIMEOUT_MS = 2000;

constexpr std::uint32_t CMD_DEVICE_INFO = 1;
constexpr std::uint32_t CMD_DEVICE_NAME = 2;
constexpr std::uint32_t CMD_START_READ = 3;
constexpr std::uint32_t CMD_RECORD_HEADER = 4;
constexpr std::uint32_t CMD_RECORD_DATA = 5;
constexpr std::uint32_t CMD_SCREEN = 6;

// Receives a backend's hot-plug notifications, on whatever thread the backend uses.
class TUSBDeviceSink
{
public:
    virtual ~TUSBDeviceSink() = default;
    // True when the device is taken; a refused device must not be used for exchanges.
    virtual bool OnDeviceAttach(TUSBDeviceId device) = 0;
    virtual void OnDeviceDetach(TUSBDeviceId device) = 0;
};

// A USB stack as the module needs it. Transfers may run on any thread, concurrently with
// notifications; each reports the bytes it actually moved in `transferred`.
class TUSBBackend
{
public:
    virtual ~TUSBBackend() = default;
    // Starts notifications; matching devices already present are reported before it
    // returns. Returns 0, or a status when nothing was opened.
    virtual TUSBStatus Open(TUSBDeviceSink& sink) = 0;
    // Stops notifications: none runs after it returns. Safe to call when not open.
    virtual void Close() = 0;
    // Each returns 0, or a status (STATUS_USB_NO_DEVICE for an id it does not hold).
    virtual TUSBStatus BulkOut(TUSBDeviceId device, std::uint8_t endpoint, const std::uint8_t* data,
        std::size_t length, unsigned timeoutMs, std::size_t& transferred)
        = 0;
    virtual TUSBStatus BulkIn(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data,
        std::size_t length, unsigned timeoutMs, std::size_t& transferred)
        = 0;
};

// Opens the link over libusb-1.0. Returns 0, or the failure status (the module is then
// closed, and every exchange fails with STATUS_USB_NOT_OPEN).
TUSBStatus USBInitialize();
// Opens the link over the given backend (the instrument simulator, for instance); an open
// link is closed first. Returns as above; STATUS_USB_INVALID_PARAM for no backend.
TUSBStatus USBInitialize(std::shared_ptr<TUSBBackend> backend);
// Closes the link and forgets the held instrument. Does nothing when nothing is open.
void USBFinalize();

bool USBDeviceAttached();
// The held instrument's id, 0 when none.
TUSBDeviceId USBAttachedDevice();

// Sends `command` with up to MAX_PAYLOAD bytes of `payload` (longer payloads are cut), then,
// when replyLength is not 0, reads replyLength bytes into `reply`. Each transfer times out
// after USB_TIMEOUT_MS. Returns 0 when the transfers completed, otherwise the first failing
// transfer's status (no IN transfer follows a failed OUT); STATUS_USB_NOT_OPEN or
// STATUS_USB_NO_DEVICE, without any transfer, when no link or no instrument is there.
// A short reply is not a failure here: `replyReceived`, when given, gets the bytes read.
TUSBStatus USBExchange(std::uint32_t command, const void* payload, std::uint32_t payloadLength, void* reply,
    std::uint32_t replyLength, std::uint32_t* replyReceived = nullptr);
