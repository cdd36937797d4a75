#pragma once

// An in-process USB bus with simulated instruments, usable as the link's backend.
//
// Each plugged instrument answers commands 1 to 6 from its stored measurements and display
// picture as the real one does: command 3 rewinds to the first record, each command 4
// answers the header of the current record and the following command 5 its sample block,
// then moves on. An IN transfer with no reply pending waits out its time-out; a reply
// longer than asked for overflows; a shorter one ends the transfer early with success.
//
// Faults are given per exchange: exchanges of one instrument are numbered from 0 in the
// order its requests arrive (for a conforming download: 0 info, 1 name, 2 start, then
// 3 + 2i header and 4 + 2i samples of record i). A fault applies to the exchange's IN
// transfer, or to its OUT transfer when the command has no reply.
//
// Plug and Unplug notify the link like hot-plug events. All members are thread-safe.

#include "device/DeviceProtocol.h"
#include "device/ScreenFrame.h"
#include "device/USB.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct TSimulatedMeasurement
{
    TDeviceMsrHeader Header;
    // Array k at k * MAX_SAMPLES; missing samples are sent as 0.
    std::vector<std::uint16_t> Samples;
};

enum class TSimulatorFault
{
    Timeout,       // the transfer gets no answer and times out
    TransferError, // the transfer fails (STATUS_USB_IO)
    ShortReply,    // the reply is cut to Bytes bytes
    LongReply,     // Bytes more bytes follow the reply
    Unplug,        // the instrument is unplugged during the transfer
};

struct TExchangeFault
{
    std::uint32_t Exchange = 0;
    TSimulatorFault Kind = TSimulatorFault::TransferError;
    std::size_t Bytes = 0;
};

struct TSimulatedInstrument
{
    std::string Name = std::string(DEVICE_NAME);
    // L of the information block; 1 + Name.size() when not given. The name block is cut or
    // padded with zeros to L.
    std::optional<std::uint32_t> NameLength;
    std::uint32_t DataVersion = DEVICE_DATA_VERSION;
    // N of the information block; Measurements.size() when not given. Asking for more
    // records than are stored stalls the endpoint.
    std::optional<std::int32_t> RecordCount;
    std::vector<TSimulatedMeasurement> Measurements;
    TScreenReply Screen{};
    std::vector<TExchangeFault> Faults;
    // Added to every transfer; waits end early when the instrument is unplugged.
    std::chrono::microseconds TransferDelay{0};
    // Called on the transferring thread once a request has been taken, with its exchange
    // number and command code; it may plug, unplug or stop a worker.
    std::function<void(std::uint32_t exchange, std::uint32_t command)> OnCommand;
};

struct TSimulatorTransfer
{
    TUSBDeviceId Device = 0;
    std::uint8_t Endpoint = 0;
    std::vector<std::uint8_t> Data; // what an OUT transfer sent
    std::size_t Length = 0;         // bytes asked for (IN) or sent (OUT)
};

class TInstrumentSimulator final : public TUSBBackend
{
public:
    TInstrumentSimulator();
    ~TInstrumentSimulator() override;

    // Plugs an instrument in and returns its id; the link decides whether it takes it.
    TUSBDeviceId Plug(TSimulatedInstrument instrument);
    // Does nothing for an id not plugged in.
    void Unplug(TUSBDeviceId device);
    bool IsPlugged(TUSBDeviceId device) const;

    // Makes the next Open fail with `status` (0 lets it succeed again).
    void SetOpenFailure(TUSBStatus status);

    // Every transfer that reached a plugged instrument, oldest first.
    std::vector<TSimulatorTransfer> Transfers() const;
    // Command codes of the OUT transfers, oldest first.
    std::vector<std::uint32_t> Commands() const;
    void ClearTransfers();

    TUSBStatus Open(TUSBDeviceSink& sink) override;
    void Close() override;
    TUSBStatus BulkOut(TUSBDeviceId device, std::uint8_t endpoint, const std::uint8_t* data,
        std::size_t length, unsigned timeoutMs, std::size_t& transferred) override;
    TUSBStatus BulkIn(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data, std::size_t length,
        unsigned timeoutMs, std::size_t& transferred) override;

private:
    struct TState;

    std::shared_ptr<TState> Find(TUSBDeviceId device) const;
    // Waits `duration` unless the instrument goes away first; true when it went away.
    bool Wait(std::unique_lock<std::mutex>& lock, const TState& state, std::chrono::microseconds duration);
    TUSBStatus Fail(
        std::unique_lock<std::mutex>& lock, TState& state, TSimulatorFault kind, unsigned timeoutMs);
    void Prepare(TState& state, std::uint32_t command);

    // Held while the sink is called, so that no notification outlives Close.
    std::mutex m_notifyMutex;
    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_changed;
    TUSBDeviceSink* m_sink = nullptr;
    TUSBStatus m_openFailure = STATUS_SUCCESS;
    std::map<TUSBDeviceId, std::shared_ptr<TState>> m_instruments;
    std::vector<TSimulatorTransfer> m_transfers;
    TUSBDeviceId m_nextId = 1;
};

// A contraction run as a laboratory would record it: a volume rise of 2.6 to 4.8 ml per kg
// of cement over the first three hours, slowing as hydration proceeds, then creeping on;
// temperatures near 20 °C warming a little with the heat of hydration; a resistance that
// drifts up as the paste sets. Scales 0.001 ml, 0.01 °C, 0.01 °C and 0.1 Ω per count.
// The same seed gives the same run.
TSimulatedMeasurement MakeRealisticMeasurement(std::int32_t number, TDeviceDateTime start,
    std::uint32_t massGrams, std::uint32_t durationS, std::uint32_t periodS, std::uint32_t seed);

// An instrument holding `recordCount` realistic runs numbered from 1 (masses 380 to 420 g,
// 3 to 4 hours at a 10 s period, one a day from 2024-03-01) and a test picture on its
// display.
TSimulatedInstrument MakeRealisticInstrument(std::size_t recordCount, std::uint32_t seed);

// Runs of ten samples (600 s at a 60 s period), numbered from 1, for tests that download
// many times.
TSimulatedInstrument MakeQuickInstrument(std::size_t recordCount);

// The sample block command 5 sends for a measurement.
std::vector<std::uint8_t> SimulatedSampleBlock(const TSimulatedMeasurement& measurement);
