#include "device/USB.h"

#include "device/LibUSBBackend.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace {

// Written by the notifications only (and cleared once the backend is closed).
std::atomic<TUSBDeviceId> AttachedDevice{0};

// Exchanges copy the backend under the lock and use the copy, so a USBFinalize that runs
// meanwhile (or a worker left running at exit) never sees a destroyed backend.
std::mutex DriverMutex;
std::shared_ptr<TUSBBackend> DriverHandle;

class TAttachSink final : public TUSBDeviceSink
{
public:
    bool OnDeviceAttach(TUSBDeviceId device) override
    {
        TUSBDeviceId none = 0;
        return device != 0 && AttachedDevice.compare_exchange_strong(none, device);
    }

    // Only the held device frees the slot; a refused one leaving changes nothing.
    void OnDeviceDetach(TUSBDeviceId device) override { AttachedDevice.compare_exchange_strong(device, 0); }
};

TAttachSink AttachSink;

std::shared_ptr<TUSBBackend> CurrentBackend()
{
    std::lock_guard lock(DriverMutex);
    return DriverHandle;
}

} // namespace

TUSBStatus USBInitialize()
{
    return USBInitialize(std::make_shared<TLibUSBBackend>());
}

TUSBStatus USBInitialize(std::shared_ptr<TUSBBackend> backend)
{
    USBFinalize();
    if (!backend)
        return STATUS_USB_INVALID_PARAM;
    const TUSBStatus status = backend->Open(AttachSink);
    if (status != STATUS_SUCCESS) {
        backend->Close();
        AttachedDevice = 0;
        return status;
    }
    std::lock_guard lock(DriverMutex);
    DriverHandle = std::move(backend);
    return STATUS_SUCCESS;
}

void USBFinalize()
{
    std::shared_ptr<TUSBBackend> backend;
    {
        std::lock_guard lock(DriverMutex);
        backend.swap(DriverHandle);
    }
    if (!backend)
        return;
    backend->Close();
    AttachedDevice = 0;
}

bool USBDeviceAttached()
{
    return AttachedDevice.load() != 0;
}

TUSBDeviceId USBAttachedDevice()
{
    return AttachedDevice.load();
}

TUSBStatus USBExchange(std::uint32_t command, const void* payload, std::uint32_t payloadLength, void* reply,
    std::uint32_t replyLength, std::uint32_t* replyReceived)
{
    if (replyReceived)
        *replyReceived = 0;
    const std::shared_ptr<TUSBBackend> backend = CurrentBackend();
    if (!backend)
        return STATUS_USB_NOT_OPEN;
    const TUSBDeviceId device = AttachedDevice.load();
    if (device == 0)
        return STATUS_USB_NO_DEVICE;

    std::array<std::uint8_t, MAX_PACKET> packet{};
    for (int i = 0; i < 4; ++i)
        packet[i] = static_cast<std::uint8_t>(command >> (8 * i));
    std::size_t length = 4;
    if (payload && payloadLength != 0) {
        const std::size_t payloadBytes = std::min<std::size_t>(payloadLength, MAX_PAYLOAD);
        std::memcpy(packet.data() + 4, payload, payloadBytes);
        length += payloadBytes;
    }

    std::size_t moved = 0;
    TUSBStatus status
        = backend->BulkOut(device, EP_COMMAND_OUT, packet.data(), length, USB_TIMEOUT_MS, moved);
    if (status != STATUS_SUCCESS || replyLength == 0 || !reply)
        return status;

    moved = 0;
    status = backend->BulkIn(
        device, EP_REPLY_IN, static_cast<std::uint8_t*>(reply), replyLength, USB_TIMEOUT_MS, moved);
    if (replyReceived)
        *replyReceived = static_cast<std::uint32_t>(std::min<std::size_t>(moved, replyLength));
    return status;
}
