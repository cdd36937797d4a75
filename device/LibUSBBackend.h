#pragma once

// The instrument over libusb-1.0.
//
// Life: Open initialises a private libusb context, registers for hot-plug of 03eb:0010
// (devices already present are reported during registration) and starts the event thread.
// Where libusb has no hot-plug, the event thread polls the device list instead. libusb
// forbids transfers inside its hot-plug callback, so the callback only queues the
// event; the event thread then checks the class bytes, opens and claims the device (with a
// short retry while udev is still granting access to a fresh arrival) and offers it to the
// sink. Close stops and joins the thread and releases every device.
//
// A held device's handle is shared: a transfer in flight keeps it open until it returns
// even when the device leaves meanwhile, so unplugging never frees a handle in use.

#include "device/USB.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct libusb_context;
struct libusb_device;

class TLibUSBBackend final : public TUSBBackend
{
public:
    TLibUSBBackend() = default;
    ~TLibUSBBackend() override;
    TLibUSBBackend(const TLibUSBBackend&) = delete;
    TLibUSBBackend& operator=(const TLibUSBBackend&) = delete;

    // Returns 0, or the libusb failure as a status (nothing is left open then).
    TUSBStatus Open(TUSBDeviceSink& sink) override;
    void Close() override;
    // STATUS_USB_NO_DEVICE for an id not held; libusb failures mapped to statuses.
    TUSBStatus BulkOut(TUSBDeviceId device, std::uint8_t endpoint, const std::uint8_t* data,
        std::size_t length, unsigned timeoutMs, std::size_t& transferred) override;
    TUSBStatus BulkIn(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data, std::size_t length,
        unsigned timeoutMs, std::size_t& transferred) override;

    // libusb error code -> status: 0x30000000 plus its magnitude.
    static TUSBStatus StatusFromLibUSB(int error);

private:
    struct THeldDevice;
    struct TEvent
    {
        libusb_device* Device = nullptr; // referenced while queued
        bool Arrived = false;
        bool Fresh = false; // hot-plugged rather than found at start
    };

    friend struct TLibUSBCallbacks;
    void Queue(libusb_device* device, bool arrived, bool fresh);
    void EventLoop();
    void ProcessEvents();
    void PollDevices(bool fresh);
    void Arrive(libusb_device* device, bool fresh);
    void Leave(libusb_device* device);
    std::shared_ptr<THeldDevice> Find(TUSBDeviceId device);
    TUSBStatus Transfer(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data, std::size_t length,
        unsigned timeoutMs, std::size_t& transferred);
    bool Stopping();

    libusb_context* m_context = nullptr;
    TUSBDeviceSink* m_sink = nullptr;
    bool m_hotplug = false;
    bool m_enumerating = false;
    int m_hotplugHandle = 0;
    std::thread m_eventThread;

    std::mutex m_mutex; // guards everything below
    std::condition_variable m_wake;
    bool m_stop = false;
    std::vector<TEvent> m_events;
    std::map<TUSBDeviceId, std::shared_ptr<THeldDevice>> m_held;
    std::vector<libusb_device*> m_known; // referenced; polling only
    TUSBDeviceId m_nextId = 1;
};
