#include "fuzz/FuzzedReplyBackend.h"

#include "store/LittleEndian.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

std::array<TSimulatedInstrument, FUZZ_MAX_RECORDS> MakeInstruments()
{
    // The realistic instrument's display picture, with none of its three-hour runs: each
    // input downloads the whole instrument, so the runs are kept short.
    const TScreenReply screen = MakeRealisticInstrument(0, 1).Screen;
    std::array<TSimulatedInstrument, FUZZ_MAX_RECORDS> instruments;
    for (std::size_t records = 1; records <= FUZZ_MAX_RECORDS; ++records) {
        instruments[records - 1] = MakeQuickInstrument(records);
        instruments[records - 1].Screen = screen;
    }
    return instruments;
}

} // namespace

const TSimulatedInstrument& FuzzInstrument(std::size_t records)
{
    static const std::array<TSimulatedInstrument, FUZZ_MAX_RECORDS> instruments = MakeInstruments();
    return instruments.at(std::clamp<std::size_t>(records, 1, FUZZ_MAX_RECORDS) - 1);
}

std::optional<TReplyInput> SplitReplyInput(std::span<const std::uint8_t> input)
{
    if (input.empty())
        return std::nullopt;
    TReplyInput split;
    split.Records = 1 + input[0] % FUZZ_MAX_RECORDS;
    const std::size_t which = input[0] / FUZZ_MAX_RECORDS % (split.Records + 1);
    if (which < split.Records)
        split.Record = which;
    split.Reply = input.subspan(1);
    return split;
}

std::uint8_t ReplySelector(std::size_t records, std::optional<std::size_t> record)
{
    return static_cast<std::uint8_t>(records - 1 + FUZZ_MAX_RECORDS * record.value_or(records));
}

TFuzzedReplyBackend::TFuzzedReplyBackend(
    std::uint32_t command, std::optional<std::size_t> record, std::span<const std::uint8_t> reply)
    : m_command(command)
    , m_record(record)
    , m_reply(reply.begin(), reply.end())
{ }

std::size_t TFuzzedReplyBackend::Replaced() const
{
    std::lock_guard lock(m_mutex);
    return m_replaced;
}

TUSBStatus TFuzzedReplyBackend::Open(TUSBDeviceSink& sink)
{
    return m_simulator.Open(sink);
}

void TFuzzedReplyBackend::Close()
{
    m_simulator.Close();
}

TUSBStatus TFuzzedReplyBackend::BulkOut(TUSBDeviceId device, std::uint8_t endpoint, const std::uint8_t* data,
    std::size_t length, unsigned timeoutMs, std::size_t& transferred)
{
    const TUSBStatus status = m_simulator.BulkOut(device, endpoint, data, length, timeoutMs, transferred);
    const std::uint32_t command = length >= 4 ? LoadLE<std::uint32_t>(data) : 0;
    std::lock_guard lock(m_mutex);
    std::optional<std::size_t> record;
    if (command == CMD_START_READ) {
        m_headers = 0;
        m_blocks = 0;
    } else if (command == CMD_RECORD_HEADER) {
        record = m_headers++;
    } else if (command == CMD_RECORD_DATA) {
        record = m_blocks++;
    }
    m_pending
        = status == STATUS_SUCCESS && command == m_command && (!m_record || !record || record == m_record);
    return status;
}

TUSBStatus TFuzzedReplyBackend::BulkIn(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data,
    std::size_t length, unsigned timeoutMs, std::size_t& transferred)
{
    bool swap = false;
    {
        std::lock_guard lock(m_mutex);
        swap = m_pending;
        m_pending = false;
    }
    if (!swap)
        return m_simulator.BulkIn(device, endpoint, data, length, timeoutMs, transferred);

    // The instrument's own answer is taken off the endpoint but never reaches the caller's
    // buffer: bytes past a short fuzzed reply must be what the caller left there.
    std::vector<std::uint8_t> own(length);
    const TUSBStatus status
        = m_simulator.BulkIn(device, endpoint, own.data(), length, timeoutMs, transferred);
    if (status != STATUS_SUCCESS && status != STATUS_USB_OVERFLOW)
        return status;
    transferred = std::min(length, m_reply.size());
    if (transferred > 0)
        std::memcpy(data, m_reply.data(), transferred);
    std::lock_guard lock(m_mutex);
    ++m_replaced;
    return m_reply.size() > length ? STATUS_USB_OVERFLOW : STATUS_SUCCESS;
}
