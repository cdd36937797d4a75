#include "device/LibUSBBackend.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <libusb.h>

namespace {

// A device that has just appeared may still be root-only until udev has applied the
// uaccess rule; opening is retried for about a second.
constexpr int kOpenAttempts = 10;
constexpr auto kOpenRetryDelay = std::chrono::milliseconds(100);
constexpr auto kPollInterval = std::chrono::milliseconds(500);
constexpr timeval kEventTimeout = {0, 500000};

bool IsInstrumentDevice(libusb_device* device)
{
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return false;
    return descriptor.idVendor == USB_VENDOR_ID && descriptor.idProduct == USB_PRODUCT_ID;
}

// The interface to claim, or -1 when the class bytes are not the instrument's.
int InstrumentInterface(libusb_device* device)
{
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 || descriptor.bDeviceClass != USB_DEVICE_CLASS
        || descriptor.bDeviceSubClass != USB_DEVICE_SUBCLASS)
        return -1;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0
        && libusb_get_config_descriptor(device, 0, &config) != 0)
        return -1;
    int found = -1;
    for (int i = 0; i < config->bNumInterfaces && found < 0; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1)
            continue;
        const libusb_interface_descriptor& alt = interface.altsetting[0];
        if (alt.bInterfaceClass == USB_INTERFACE_CLASS && alt.bInterfaceSubClass == USB_INTERFACE_SUBCLASS)
            found = alt.bInterfaceNumber;
    }
    libusb_free_config_descriptor(config);
    return found;
}

} // namespace

struct TLibUSBBackend::THeldDevice
{
    libusb_device* Device = nullptr;
    libusb_device_handle* Handle = nullptr;
    int Interface = -1;
    TUSBDeviceId Id = 0;

    ~THeldDevice()
    {
        if (Handle && Interface >= 0)
            libusb_release_interface(Handle, Interface);
        if (Handle)
            libusb_close(Handle);
        if (Device)
            libusb_unref_device(Device);
    }
};

struct TLibUSBCallbacks
{
    static int LIBUSB_CALL Hotplug(
        libusb_context*, libusb_device* device, libusb_hotplug_event event, void* self)
    {
        auto* backend = static_cast<TLibUSBBackend*>(self);
        backend->Queue(device, event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, !backend->m_enumerating);
        return 0;
    }
};

TLibUSBBackend::~TLibUSBBackend()
{
    Close();
    if (m_context)
        libusb_exit(m_context);
}

TUSBStatus TLibUSBBackend::StatusFromLibUSB(int error)
{
    if (error >= 0)
        return STATUS_SUCCESS;
    return 0x30000000u + static_cast<TUSBStatus>(std::min(-error, 0xFFFF));
}

TUSBStatus TLibUSBBackend::Open(TUSBDeviceSink& sink)
{
    if (m_eventThread.joinable())
        return STATUS_SUCCESS;
    if (!m_context) {
        const int error = libusb_init(&m_context);
        if (error != 0) {
            m_context = nullptr;
            return StatusFromLibUSB(error);
        }
    }
    m_sink = &sink;
    {
        std::lock_guard lock(m_mutex);
        m_stop = false;
    }

    m_hotplug = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;
    if (m_hotplug) {
        m_enumerating = true;
        m_hotplug = libusb_hotplug_register_callback(m_context,
                        static_cast<libusb_hotplug_event>(
                            LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                        LIBUSB_HOTPLUG_ENUMERATE, USB_VENDOR_ID, USB_PRODUCT_ID, LIBUSB_HOTPLUG_MATCH_ANY,
                        &TLibUSBCallbacks::Hotplug, this, &m_hotplugHandle)
            == LIBUSB_SUCCESS;
        m_enumerating = false;
    }
    if (!m_hotplug)
        PollDevices(false);
    ProcessEvents();
    m_eventThread = std::thread(&TLibUSBBackend::EventLoop, this);
    return STATUS_SUCCESS;
}

void TLibUSBBackend::Close()
{
    if (m_eventThread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_hotplug) {
            libusb_hotplug_deregister_callback(m_context, m_hotplugHandle);
            libusb_interrupt_event_handler(m_context);
        }
        m_eventThread.join();
    }
    std::vector<TEvent> events;
    std::map<TUSBDeviceId, std::shared_ptr<THeldDevice>> held;
    std::vector<libusb_device*> known;
    {
        std::lock_guard lock(m_mutex);
        events.swap(m_events);
        held.swap(m_held);
        known.swap(m_known);
    }
    for (const TEvent& event : events)
        libusb_unref_device(event.Device);
    for (libusb_device* device : known)
        libusb_unref_device(device);
    m_sink = nullptr;
}

TUSBStatus TLibUSBBackend::Transfer(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data,
    std::size_t length, unsigned timeoutMs, std::size_t& transferred)
{
    transferred = 0;
    const std::shared_ptr<THeldDevice> held = Find(device);
    if (!held)
        return STATUS_USB_NO_DEVICE;
    if (length > INT_MAX)
        return STATUS_USB_INVALID_PARAM;
    int moved = 0;
    const int error
        = libusb_bulk_transfer(held->Handle, endpoint, data, static_cast<int>(length), &moved, timeoutMs);
    transferred = static_cast<std::size_t>(std::max(moved, 0));
    return StatusFromLibUSB(error);
}

TUSBStatus TLibUSBBackend::BulkOut(TUSBDeviceId device, std::uint8_t endpoint, const std::uint8_t* data,
    std::size_t length, unsigned timeoutMs, std::size_t& transferred)
{
    // libusb takes one buffer type for both directions; an OUT transfer only reads it.
    return Transfer(device, endpoint, const_cast<std::uint8_t*>(data), length, timeoutMs, transferred);
}

TUSBStatus TLibUSBBackend::BulkIn(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data,
    std::size_t length, unsigned timeoutMs, std::size_t& transferred)
{
    return Transfer(device, endpoint, data, length, timeoutMs, transferred);
}

void TLibUSBBackend::Queue(libusb_device* device, bool arrived, bool fresh)
{
    libusb_ref_device(device);
    std::lock_guard lock(m_mutex);
    m_events.push_back({device, arrived, fresh});
}

void TLibUSBBackend::EventLoop()
{
    while (!Stopping()) {
        if (m_hotplug) {
            timeval timeout = kEventTimeout;
            libusb_handle_events_timeout_completed(m_context, &timeout, nullptr);
        } else {
            PollDevices(true);
        }
        ProcessEvents();
        if (!m_hotplug) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, kPollInterval, [this] { return m_stop; });
        }
    }
}

void TLibUSBBackend::ProcessEvents()
{
    std::vector<TEvent> events;
    {
        std::lock_guard lock(m_mutex);
        events.swap(m_events);
    }
    for (const TEvent& event : events) {
        if (event.Arrived)
            Arrive(event.Device, event.Fresh);
        else
            Leave(event.Device);
        libusb_unref_device(event.Device);
    }
}

void TLibUSBBackend::PollDevices(bool fresh)
{
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    if (count < 0)
        return;
    std::vector<libusb_device*> present;
    for (ssize_t i = 0; i < count; ++i) {
        if (IsInstrumentDevice(list[i]))
            present.push_back(list[i]);
    }
    std::vector<libusb_device*> known;
    {
        std::lock_guard lock(m_mutex);
        known = m_known;
    }
    for (libusb_device* device : present) {
        if (std::find(known.begin(), known.end(), device) == known.end()) {
            libusb_ref_device(device);
            {
                std::lock_guard lock(m_mutex);
                m_known.push_back(device);
            }
            Queue(device, true, fresh);
        }
    }
    for (libusb_device* device : known) {
        if (std::find(present.begin(), present.end(), device) == present.end()) {
            Queue(device, false, fresh);
            {
                std::lock_guard lock(m_mutex);
                std::erase(m_known, device);
            }
            libusb_unref_device(device);
        }
    }
    libusb_free_device_list(list, 1);
}

void TLibUSBBackend::Arrive(libusb_device* device, bool fresh)
{
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, held] : m_held) {
            if (held->Device == device)
                return; // reported twice
        }
    }
    const int interface = InstrumentInterface(device);
    if (interface < 0)
        return;

    libusb_device_handle* handle = nullptr;
    const int attempts = fresh ? kOpenAttempts : 1;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const int error = libusb_open(device, &handle);
        if (error == 0)
            break;
        handle = nullptr;
        if (error != LIBUSB_ERROR_ACCESS && error != LIBUSB_ERROR_BUSY)
            return;
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, kOpenRetryDelay, [this] { return m_stop; }))
            return;
    }
    if (!handle)
        return;

    auto held = std::make_shared<THeldDevice>();
    held->Device = libusb_ref_device(device);
    held->Handle = handle;
    // The instrument's vendor class has no kernel driver; should one be bound anyway, it
    // has to let go before the interface can be claimed.
    if (libusb_kernel_driver_active(handle, interface) == 1)
        libusb_detach_kernel_driver(handle, interface);
    if (libusb_claim_interface(handle, interface) != 0)
        return;
    held->Interface = interface;
    {
        std::lock_guard lock(m_mutex);
        held->Id = m_nextId++;
        m_held[held->Id] = held;
    }
    if (!m_sink->OnDeviceAttach(held->Id)) {
        std::lock_guard lock(m_mutex);
        m_held.erase(held->Id);
    }
}

void TLibUSBBackend::Leave(libusb_device* device)
{
    TUSBDeviceId id = 0;
    // Released outside the lock: closing takes libusb's event lock, and a thread handling
    // events holds that while our hot-plug callback waits for m_mutex.
    std::shared_ptr<THeldDevice> gone;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_held.begin(); it != m_held.end(); ++it) {
            if (it->second->Device == device) {
                id = it->first;
                gone = std::move(it->second);
                m_held.erase(it);
                break;
            }
        }
    }
    gone.reset();
    if (id != 0)
        m_sink->OnDeviceDetach(id);
}

std::shared_ptr<TLibUSBBackend::THeldDevice> TLibUSBBackend::Find(TUSBDeviceId device)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_held.find(device);
    return it == m_held.end() ? nullptr : it->second;
}

bool TLibUSBBackend::Stopping()
{
    std::lock_guard lock(m_mutex);
    return m_stop;
}
