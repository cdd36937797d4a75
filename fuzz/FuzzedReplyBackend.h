#pragma once

// The simulated instrument with the reply to one command replaced by the fuzzer's bytes.
//
// Every request still reaches the simulator, which answers it as usual; for the chosen
// command (of one record, or of every record) its IN reply is then swapped for the given
// bytes, delivered as the link would: cut to the length asked for, with an overflow when
// longer, ending early with success when shorter. The simulator's own failures (a stalled
// endpoint, no instrument) pass through unchanged.
//
// A download input starts with a selector byte b: 1 + b % 3 records, and (b / 3) %
// (records + 1) the record whose reply is replaced, `records` itself meaning all of them.
// The rest of the input is the reply.

#include "device/InstrumentSimulator.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

constexpr std::size_t FUZZ_MAX_RECORDS = 3;

// `records` (1..FUZZ_MAX_RECORDS) quick runs of ten samples each, built once.
const TSimulatedInstrument& FuzzInstrument(std::size_t records);

struct TReplyInput
{
    std::size_t Records = 1;
    std::optional<std::size_t> Record; // none: every record
    std::span<const std::uint8_t> Reply;
};

// Empty input: no input to run.
std::optional<TReplyInput> SplitReplyInput(std::span<const std::uint8_t> input);
std::uint8_t ReplySelector(std::size_t records, std::optional<std::size_t> record);

class TFuzzedReplyBackend final : public TUSBBackend
{
public:
    TFuzzedReplyBackend(
        std::uint32_t command, std::optional<std::size_t> record, std::span<const std::uint8_t> reply);

    TInstrumentSimulator& Simulator() { return m_simulator; }
    // IN replies swapped so far.
    std::size_t Replaced() const;

    TUSBStatus Open(TUSBDeviceSink& sink) override;
    void Close() override;
    TUSBStatus BulkOut(TUSBDeviceId device, std::uint8_t endpoint, const std::uint8_t* data,
        std::size_t length, unsigned timeoutMs, std::size_t& transferred) override;
    TUSBStatus BulkIn(TUSBDeviceId device, std::uint8_t endpoint, std::uint8_t* data, std::size_t length,
        unsigned timeoutMs, std::size_t& transferred) override;

private:
    TInstrumentSimulator m_simulator;
    const std::uint32_t m_command;
    const std::optional<std::size_t> m_record;
    const std::vector<std::uint8_t> m_reply;

    mutable std::mutex m_mutex; // guards everything below
    bool m_pending = false;     // the last request was one whose reply is swapped
    std::size_t m_headers = 0;  // record commands since the last start: which record is asked for
    std::size_t m_blocks = 0;
    std::size_t m_replaced = 0;
};
