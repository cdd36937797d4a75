#include "device/InstrumentSimulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

struct TInstrumentSimulator::TState
{
    TUSBDeviceId Id = 0;
    TSimulatedInstrument Instrument;
    bool Plugged = true;
    std::uint32_t Exchanges = 0;
    std::size_t Cursor = 0;
    std::optional<std::vector<std::uint8_t>> Reply;
    bool Stalled = false;
    std::optional<TExchangeFault> PendingFault;
};

namespace {

std::uint32_t NameLength(const TSimulatedInstrument& instrument)
{
    return instrument.NameLength.value_or(static_cast<std::uint32_t>(instrument.Name.size() + 1));
}

} // namespace

TInstrumentSimulator::TInstrumentSimulator() = default;
TInstrumentSimulator::~TInstrumentSimulator() = default;

TUSBDeviceId TInstrumentSimulator::Plug(TSimulatedInstrument instrument)
{
    std::lock_guard notify(m_notifyMutex);
    TUSBDeviceId id = 0;
    TUSBDeviceSink* sink = nullptr;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        auto state = std::make_shared<TState>();
        state->Id = id;
        state->Instrument = std::move(instrument);
        m_instruments[id] = std::move(state);
        sink = m_sink;
    }
    if (sink)
        sink->OnDeviceAttach(id);
    return id;
}

void TInstrumentSimulator::Unplug(TUSBDeviceId device)
{
    std::lock_guard notify(m_notifyMutex);
    TUSBDeviceSink* sink = nullptr;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_instruments.find(device);
        if (it == m_instruments.end())
            return;
        it->second->Plugged = false;
        m_instruments.erase(it);
        sink = m_sink;
    }
    m_changed.notify_all();
    if (sink)
        sink->OnDeviceDetach(device);
}

bool TInstrumentSimulator::IsPlugged(TUSBDeviceId device) const
{
    return Find(device) != nullptr;
}

void TInstrumentSimulator::SetOpenFailure(TUSBStatus status)
{
    std::lock_guard lock(m_mutex);
    m_openFailure = status;
}

std::vector<TSimulatorTransfer> TInstrumentSimulator::Transfers() const
{
    std::lock_guard lock(m_mutex);
    return m_transfers;
}

std::vector<std::uint32_t> TInstrumentSimulator::Commands() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::uint32_t> commands;
    for (const TSimulatorTransfer& transfer : m_transfers) {
        if (transfer.Endpoint == EP_COMMAND_OUT && transfer.Data.size() >= 4) {
            std::uint32_t code = 0;
            std::memcpy(&code, transfer.Data.data(), 4);
            commands.push_back(code);
        }
    }
    return commands;
}

void TInstrumentSimulator::ClearTransfers()
{
    std::lock_guard lock(m_mutex);
    m_transfers.clear();
}

TUSBStatus TInstrumentSimulator::Open(TUSBDeviceSink& sink)
{
    std::lock_guard notify(m_notifyMutex);
    std::vector<TUSBDeviceId> present;
    {
        std::lock_guard lock(m_mutex);
        if (m_openFailure != STATUS_SUCCESS)
            return m_openFailure;
        m_sink = &sink;
        for (const auto& [id, state] : m_instruments)
            present.push_back(id);
    }
    for (TUSBDeviceId id : present)
        sink.OnDeviceAttach(id);
    return STATUS_SUCCESS;
}

void TInstrumentSimulator::Close()
{
    std::lock_guard notify(m_notifyMutex);
    {
        std::lock_guard lock(m_mutex);
        m_sink = nullptr;
    }
    m_changed.notify_all();
}

std::shared_ptr<TInstrumentSimulator::TState> TInstrumentSimulator::Find(TUSBDeviceId device) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_instruments.find(device);
    return it == m_instruments.end() ? nullptr : it->second;
}

bool TInstrumentSimulator::Wait(
    std::unique_lock<std::mutex>& lock, const TState& state, std::chrono::microseconds duration)
{
    const auto gone = [&] { return !state.Plugged || m_sink == nullptr; };
    if (duration.count() > 0)
        m_changed.wait_for(lock, duration, gone);
    return gone();
}

TUSBStatus TInstrumentSimulator::Fail(
    std::unique_lock<std::mutex>& lock, TState& state, TSimulatorFault kind, unsigned timeoutMs)
{
    switch (kind) {
    case TSimulatorFault::Timeout:
        return Wait(lock, state, std::chrono::milliseconds(timeoutMs)) ? STATUS_USB_NO_DEVICE
                                                                       : STATUS_USB_TIMEOUT;
    case TSimulatorFault::TransferError:
        return STATUS_USB_IO;
    case TSimulatorFault::Unplug:
        lock.unlock();
        Unplug(state.Id);
        lock.lock();
        return STATUS_USB_NO_DEVICE;
    case TSimulatorFault::ShortReply:
    case TSimulatorFault::LongReply:
        break;
    }
    return STATUS_SUCCESS;
}

void TInstrumentSimulator::Prepare(TState& state, std::uint32_t command)
{
    state.Reply.reset();
    state.Stalled = false;
    state.PendingFault.reset();
    const TSimulatedInstrument& instrument = state.Instrument;
    const std::size_t stored = instrument.Measurements.size();
    switch (command) {
    case CMD_DEVICE_INFO: {
        TDeviceInfo info;
        info.NameLength = NameLength(instrument);
        info.DataVersion = instrument.DataVersion;
        info.RecordCount = instrument.RecordCount.value_or(static_cast<std::int32_t>(stored));
        const auto bytes = EncodeDeviceInfo(info);
        state.Reply.emplace(bytes.begin(), bytes.end());
        break;
    }
    case CMD_DEVICE_NAME: {
        std::vector<std::uint8_t> block(NameLength(instrument), 0);
        for (std::size_t i = 1; i < block.size() && i <= instrument.Name.size(); ++i)
            block[i] = static_cast<std::uint8_t>(instrument.Name[i - 1]);
        state.Reply = std::move(block);
        break;
    }
    case CMD_START_READ:
        state.Cursor = 0;
        break;
    case CMD_RECORD_HEADER:
        if (state.Cursor < stored) {
            const auto bytes = EncodeDeviceMsrHeader(instrument.Measurements[state.Cursor].Header);
            state.Reply.emplace(bytes.begin(), bytes.end());
        } else {
            state.Stalled = true;
        }
        break;
    case CMD_RECORD_DATA:
        if (state.Cursor < stored)
            state.Reply = SimulatedSampleBlock(instrument.Measurements[state.Cursor++]);
        else
            state.Stalled = true;
        break;
    case CMD_SCREEN:
        state.Reply.emplace(instrument.Screen.begin(), instrument.Screen.end());
        break;
    default:
        state.Stalled = true;
        break;
    }
}

TUSBStatus TInstrumentSimulator::BulkOut(TUSBDeviceId device, std::uint8_t endpoint, const std::uint8_t* data,
    std::size_t length, unsigned timeoutMs, std::size_t& transferred)
{
    transferred = 0;
    std::unique_lock lock(m_mutex);
    const auto it = m_instruments.find(device);
    if (it == m_instruments.end() || m_sink == nullptr)
        return STATUS_USB_NO_DEVICE;
    const std::shared_ptr<TState> state = it->second;
    m_transfers.push_back({device, endpoint, std::vector<std::uint8_t>(data, data + length), length});
    if (endpoint != EP_COMMAND_OUT)
        return STATUS_USB_PIPE;
    if (Wait(lock, *state, state->Instrument.TransferDelay))
        return STATUS_USB_NO_DEVICE;

    const std::uint32_t exchange = state->Exchanges++;
    std::uint32_t command = 0;
    if (length >= 4)
        std::memcpy(&command, data, 4);
    Prepare(*state, length >= 4 ? command : 0);

    std::optional<TExchangeFault> fault;
    for (const TExchangeFault& candidate : state->Instrument.Faults) {
        if (candidate.Exchange == exchange)
            fault = candidate;
    }
    TUSBStatus status = STATUS_SUCCESS;
    if (fault && (state->Reply || state->Stalled))
        state->PendingFault = fault;
    else if (fault)
        status = Fail(lock, *state, fault->Kind, timeoutMs);
    if (status == STATUS_SUCCESS)
        transferred = length;

    const auto hook = state->Instrument.OnCommand;
    lock.unlock();
    if (hook)
        hook(exchange, command);
    return status;
}

TUSBStatus TInstrumentSimulator::BulkIn(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data,
    std::size_t length, unsigned timeoutMs, std::size_t& transferred)
{
    transferred = 0;
    std::unique_lock lock(m_mutex);
    const auto it = m_instruments.find(device);
    if (it == m_instruments.end() || m_sink == nullptr)
        return STATUS_USB_NO_DEVICE;
    const std::shared_ptr<TState> state = it->second;
    m_transfers.push_back({device, endpoint, {}, length});
    if (endpoint != EP_REPLY_IN)
        return STATUS_USB_PIPE;
    if (Wait(lock, *state, state->Instrument.TransferDelay))
        return STATUS_USB_NO_DEVICE;

    // A plain vector and a flag: GCC's optimiser mistakes a moved optional<vector> for uninitialised.
    const bool hasReply = state->Reply.has_value();
    std::vector<std::uint8_t> reply = hasReply ? std::move(*state->Reply) : std::vector<std::uint8_t>();
    const std::optional<TExchangeFault> fault = state->PendingFault;
    const bool stalled = state->Stalled;
    state->Reply.reset();
    state->PendingFault.reset();
    state->Stalled = false;

    if (fault) {
        switch (fault->Kind) {
        case TSimulatorFault::ShortReply:
            if (hasReply)
                reply.resize(std::min(fault->Bytes, reply.size()));
            break;
        case TSimulatorFault::LongReply:
            if (hasReply)
                reply.insert(reply.end(), fault->Bytes, 0xA5);
            break;
        default:
            return Fail(lock, *state, fault->Kind, timeoutMs);
        }
    }
    if (stalled)
        return STATUS_USB_PIPE;
    if (!hasReply)
        return Wait(lock, *state, std::chrono::milliseconds(timeoutMs)) ? STATUS_USB_NO_DEVICE
                                                                        : STATUS_USB_TIMEOUT;

    transferred = std::min(length, reply.size());
    if (transferred > 0) // an empty reply (a name block of length 0) may have no buffer
        std::memcpy(data, reply.data(), transferred);
    return reply.size() > length ? STATUS_USB_OVERFLOW : STATUS_SUCCESS;
}

namespace {

class TRandom
{
public:
    explicit TRandom(std::uint32_t seed)
        : m_engine(seed)
    { }
    // Uniform in [0, 1), the same for a seed on every platform.
    double Uniform() { return m_engine() / 4294967296.0; }
    // Roughly normal, mean 0, deviation 1.
    double Noise() { return (Uniform() + Uniform() + Uniform() + Uniform() - 2.0) * std::sqrt(3.0); }

private:
    std::mt19937 m_engine;
};

std::uint16_t Counts(double value, double scale)
{
    return static_cast<std::uint16_t>(std::clamp(std::lround(value / scale), 0L, 65535L));
}

} // namespace

TSimulatedMeasurement MakeRealisticMeasurement(std::int32_t number, TDeviceDateTime start,
    std::uint32_t massGrams, std::uint32_t durationS, std::uint32_t periodS, std::uint32_t seed)
{
    constexpr double kThreeHours = 10800.0;
    TRandom random(seed);
    TSimulatedMeasurement measurement;
    TDeviceMsrHeader& header = measurement.Header;
    header.DateTime = start;
    header.MeasureNumber = number;
    header.CementMass = massGrams;
    header.ExpCementGrade = 3 + static_cast<std::uint32_t>(random.Uniform() * 4);
    header.Supplier = static_cast<std::uint32_t>(random.Uniform() * 7);
    header.Duration = durationS;
    header.Period = periodS;
    header.VolumeScale = 0.001;
    header.TempScale = 0.01;
    header.Temp2Scale = 0.01;
    header.ResistanceScale = 0.1;
    header.RawVolumeOffset = 1200 + static_cast<std::int32_t>(random.Uniform() * 600);
    header.RawTempOffset = static_cast<std::int32_t>(random.Uniform() * 50);

    // Contraction over three hours per kg of cement, reached by a saturating rise plus a
    // slow creep that goes on afterwards.
    const double perKg = 2.6 + 2.2 * random.Uniform();
    const double atThreeHours = perKg * massGrams / 1000.0;
    const double tau = 3600.0 * (0.9 + 0.8 * random.Uniform());
    const double creep = 0.05 * atThreeHours / 3600.0;
    const double rise = (atThreeHours - creep * kThreeHours) / (1.0 - std::exp(-kThreeHours / tau));
    const double volumeZero = header.RawVolumeOffset * header.VolumeScale;

    const double water = 19.0 + 2.0 * random.Uniform();
    const double room = water + 0.5 * (random.Uniform() - 0.5);
    const double resistance = 120.0 + 40.0 * random.Uniform();

    const std::size_t n = std::min<std::size_t>(header.SampleCount(), MAX_SAMPLES);
    measurement.Samples.assign(DEVICE_ARRAY_COUNT * MAX_SAMPLES, 0);
    std::uint16_t* volume = measurement.Samples.data();
    std::uint16_t* temperature = volume + MAX_SAMPLES;
    std::uint16_t* temperature2 = temperature + MAX_SAMPLES;
    std::uint16_t* resistanceCounts = temperature2 + MAX_SAMPLES;
    for (std::size_t j = 0; j < n; ++j) {
        const double t = static_cast<double>(j) * periodS;
        const double contraction = rise * (1.0 - std::exp(-t / tau)) + creep * t;
        volume[j] = Counts(volumeZero + contraction + 0.002 * random.Noise(), header.VolumeScale);
        const double heat = 0.6 * (t / kThreeHours) * std::exp(1.0 - t / kThreeHours);
        temperature[j] = Counts(water + heat + 0.02 * random.Noise(), header.TempScale);
        const double swing = 0.1 * std::sin(2.0 * std::numbers::pi * t / 21600.0);
        temperature2[j] = Counts(room + swing + 0.02 * random.Noise(), header.Temp2Scale);
        const double drift = resistance * (1.0 + 0.1 * t / kThreeHours);
        resistanceCounts[j] = Counts(drift + 0.3 * random.Noise(), header.ResistanceScale);
    }
    return measurement;
}

TSimulatedInstrument MakeRealisticInstrument(std::size_t recordCount, std::uint32_t seed)
{
    TRandom random(seed);
    TSimulatedInstrument instrument;
    for (std::size_t i = 0; i < recordCount; ++i) {
        TDeviceDateTime start;
        const std::size_t month = 2 + i / 28; // months since January 2024
        start.Year = static_cast<std::uint8_t>(24 + month / 12);
        start.Month = static_cast<std::uint8_t>(1 + month % 12);
        start.Day = static_cast<std::uint8_t>(1 + i % 28);
        start.Hour = static_cast<std::uint8_t>(8 + random.Uniform() * 8);
        start.Minute = static_cast<std::uint8_t>(random.Uniform() * 60);
        start.Second = static_cast<std::uint8_t>(random.Uniform() * 60);
        const auto mass = static_cast<std::uint32_t>(380 + random.Uniform() * 41);
        const auto duration
            = static_cast<std::uint32_t>(10800 + 600 * static_cast<int>(random.Uniform() * 7));
        instrument.Measurements.push_back(MakeRealisticMeasurement(static_cast<std::int32_t>(i + 1), start,
            mass, duration, 10, seed + 1 + static_cast<std::uint32_t>(i)));
    }
    // A frame round the display and a diagonal, so that orientation errors show.
    for (std::size_t b = 0; b < SCREEN_REPLY_SIZE; ++b) {
        const std::size_t column = b % DISPLAY_WIDTH;
        const std::size_t band = b / DISPLAY_WIDTH;
        std::uint8_t bits = 0;
        if (column == 0 || column == DISPLAY_WIDTH - 1)
            bits = 0xFF;
        if (band == 0)
            bits |= 0x01;
        if (band == 7)
            bits |= 0x80;
        const std::size_t row = column / 2;
        if (row / 8 == band)
            bits |= static_cast<std::uint8_t>(1u << (row % 8));
        instrument.Screen[b] = bits;
    }
    return instrument;
}

std::vector<std::uint8_t> SimulatedSampleBlock(const TSimulatedMeasurement& measurement)
{
    std::vector<std::uint8_t> block(DEVICE_MSR_DATA_SIZE, 0);
    const std::size_t count = std::min(measurement.Samples.size(), DEVICE_ARRAY_COUNT * MAX_SAMPLES);
    // An empty vector may hold no buffer at all, and memcpy must not be given a null pointer.
    if (count > 0)
        std::memcpy(block.data(), measurement.Samples.data(), 2 * count);
    return block;
}

TSimulatedInstrument MakeQuickInstrument(std::size_t recordCount)
{
    TSimulatedInstrument instrument;
    for (std::size_t i = 0; i < recordCount; ++i)
        instrument.Measurements.push_back(MakeRealisticMeasurement(static_cast<std::int32_t>(i + 1),
            {0, 0, 8, 1, 3, 24}, 400, 600, 60, static_cast<std::uint32_t>(i)));
    return instrument;
}
