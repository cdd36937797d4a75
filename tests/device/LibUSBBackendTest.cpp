#include "device/LibUSBBackend.h"
#include "device/DeviceProtocol.h"
#include "device/USB.h"

#include <gtest/gtest.h>
#include <libusb.h>

#include <chrono>
#include <cstdlib>
#include <string_view>

namespace {

// Runs wherever the tests run: with no instrument plugged in, and possibly with no USB
// file system at all (a container), when libusb itself refuses to start.
TEST(DeviceLibUSBBackendTest, InitialisesAndFinalisesCleanlyWithoutInstrument)
{
    const auto start = std::chrono::steady_clock::now();
    const TUSBStatus status = USBInitialize();
    EXPECT_FALSE(USBDeviceAttached());
    std::uint8_t reply[20] = {};
    EXPECT_EQ(USBExchange(CMD_DEVICE_INFO, nullptr, 0, reply, sizeof reply),
        status == STATUS_SUCCESS ? STATUS_USB_NO_DEVICE : STATUS_USB_NOT_OPEN);
    USBFinalize();
    USBFinalize();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2))
        << "the event thread must stop promptly";
    RecordProperty("libusb_status", std::to_string(status));
}

// These two run under umockdev-run, which CTest sets up with the descriptions in
// tests/device/umockdev and names the one given in CEMENTLAB_UMOCKDEV.
bool Emulating(std::string_view description)
{
    const char* emulated = std::getenv("CEMENTLAB_UMOCKDEV");
    return emulated && description == emulated;
}

TEST(DeviceLibUSBBackendTest, TakesEmulatedInstrumentAndExchanges)
{
    if (!Emulating("instrument"))
        GTEST_SKIP() << "no emulated instrument";
    ASSERT_EQ(USBInitialize(), STATUS_SUCCESS);
    EXPECT_TRUE(USBDeviceAttached());
    std::array<std::uint8_t, DEVICE_INFO_SIZE> reply{};
    std::uint32_t received = 0;
    EXPECT_EQ(
        USBExchange(CMD_DEVICE_INFO, nullptr, 0, reply.data(), DEVICE_INFO_SIZE, &received), STATUS_SUCCESS);
    EXPECT_EQ(received, DEVICE_INFO_SIZE);
    const TDeviceInfo info = DecodeDeviceInfo(reply);
    EXPECT_EQ(info.NameLength, DEVICE_NAME.size() + 1);
    EXPECT_EQ(info.DataVersion, DEVICE_DATA_VERSION);
    USBFinalize();
    EXPECT_FALSE(USBDeviceAttached());
}

TEST(DeviceLibUSBBackendTest, RefusesDeviceOfAnotherClass)
{
    if (!Emulating("foreign"))
        GTEST_SKIP() << "no emulated foreign device";
    ASSERT_EQ(USBInitialize(), STATUS_SUCCESS);
    EXPECT_FALSE(USBDeviceAttached());
    USBFinalize();
}

TEST(DeviceLibUSBBackendTest, ReopensAfterClose)
{
    class TSink final : public TUSBDeviceSink
    {
    public:
        bool OnDeviceAttach(TUSBDeviceId) override { return false; }
        void OnDeviceDetach(TUSBDeviceId) override { }
    } sink;
    TLibUSBBackend backend;
    backend.Close();
    const TUSBStatus first = backend.Open(sink);
    backend.Close();
    EXPECT_EQ(backend.Open(sink), first);
    backend.Close();
    std::size_t moved = 1;
    std::uint8_t byte = 0;
    EXPECT_EQ(backend.BulkOut(1, EP_COMMAND_OUT, &byte, 1, 10, moved), STATUS_USB_NO_DEVICE);
    EXPECT_EQ(moved, 0u);
}

TEST(DeviceLibUSBBackendTest, StatusesFollowLibUSBErrorCodes)
{
    const std::pair<int, TUSBStatus> cases[] = {
        {LIBUSB_SUCCESS, STATUS_SUCCESS},
        {LIBUSB_ERROR_IO, STATUS_USB_IO},
        {LIBUSB_ERROR_ACCESS, STATUS_USB_ACCESS},
        {LIBUSB_ERROR_NO_DEVICE, STATUS_USB_NO_DEVICE},
        {LIBUSB_ERROR_BUSY, STATUS_USB_BUSY},
        {LIBUSB_ERROR_TIMEOUT, STATUS_USB_TIMEOUT},
        {LIBUSB_ERROR_OVERFLOW, STATUS_USB_OVERFLOW},
        {LIBUSB_ERROR_PIPE, STATUS_USB_PIPE},
        {LIBUSB_ERROR_NOT_SUPPORTED, STATUS_USB_NOT_SUPPORTED},
        {LIBUSB_ERROR_OTHER, STATUS_USB_OTHER},
    };
    for (const auto& [error, status] : cases)
        EXPECT_EQ(TLibUSBBackend::StatusFromLibUSB(error), status) << libusb_error_name(error);
}

} // namespace
