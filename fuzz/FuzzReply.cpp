// The instrument's reply to one command (FUZZ_COMMAND), any bytes of any length, taken the
// way the program takes it: over the link module, by the download worker or by the screen
// read, from a simulated instrument that answers everything else as it should.

#include "device/DeviceProtocol.h"
#include "device/DownloadThread.h"
#include "device/ScreenFrame.h"
#include "device/USB.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzedReplyBackend.h"
#include "store/LittleEndian.h"
#include "tests/support/DownloadMessages.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

#ifndef FUZZ_COMMAND
#error "FUZZ_COMMAND names the command whose reply is fuzzed"
#endif

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kCommand = FUZZ_COMMAND;

// How a download must end with the fuzzed reply, worked out from the bytes alone.
struct TExpectation
{
    TUSBStatus Status = STATUS_SUCCESS;
    TArrayOfMsrResult Records;
    std::size_t Replaced = 1; // replies swapped before the worker ended
};

std::size_t AskedLength(const TSimulatedInstrument& instrument)
{
    switch (kCommand) {
    case CMD_DEVICE_INFO:
        return DEVICE_INFO_SIZE;
    case CMD_DEVICE_NAME:
        return instrument.Name.size() + 1;
    case CMD_RECORD_HEADER:
        return DEVICE_MSR_HEADER_SIZE;
    default:
        return DEVICE_MSR_DATA_SIZE;
    }
}

TExpectation Failure(TUSBStatus status)
{
    TExpectation expectation;
    expectation.Status = status;
    return expectation;
}

TExpectation Expect(const TReplyInput& input)
{
    const TSimulatedInstrument& instrument = FuzzInstrument(input.Records);
    const std::span<const std::uint8_t> reply = input.Reply;
    const std::size_t asked = AskedLength(instrument);
    if (reply.size() < asked)
        return Failure(STATUS_SHORT_REPLY);
    if (reply.size() > asked)
        return Failure(STATUS_USB_OVERFLOW);

    std::size_t count = instrument.Measurements.size();
    if (kCommand == CMD_DEVICE_INFO) {
        const auto nameLength = LoadLE<std::uint32_t>(reply.data(), 0);
        const auto version = LoadLE<std::uint32_t>(reply.data(), 8);
        const auto records = LoadLE<std::int32_t>(reply.data(), 12);
        if (nameLength > MAX_NAME_LENGTH)
            return Failure(STATUS_BAD_REPLY);
        if (nameLength == 0)
            return Failure(STATUS_WRONG_DEVICE);
        // The simulator sends its whole name block, whatever length is asked for.
        if (nameLength < instrument.Name.size() + 1)
            return Failure(STATUS_USB_OVERFLOW);
        if (nameLength > instrument.Name.size() + 1)
            return Failure(STATUS_SHORT_REPLY);
        if (version != DEVICE_DATA_VERSION)
            return Failure(STATUS_WRONG_DEVICE);
        if (records < 0 || records > MAX_RECORD_COUNT)
            return Failure(STATUS_BAD_REPLY);
        // Asked for a record it does not hold, the instrument stalls the endpoint.
        if (static_cast<std::size_t>(records) > count)
            return Failure(STATUS_USB_PIPE);
        count = static_cast<std::size_t>(records);
    } else if (kCommand == CMD_DEVICE_NAME) {
        if (!std::equal(DEVICE_NAME.begin(), DEVICE_NAME.end(), reply.begin() + 1))
            return Failure(STATUS_WRONG_DEVICE);
    }

    TExpectation expectation;
    expectation.Replaced = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const TSimulatedMeasurement& stored = instrument.Measurements[i];
        TDeviceMsrHeader header = stored.Header;
        std::vector<std::uint8_t> block = SimulatedSampleBlock(stored);
        if ((kCommand == CMD_RECORD_HEADER || kCommand == CMD_RECORD_DATA)
            && (!input.Record || input.Record == i)) {
            ++expectation.Replaced;
            if (kCommand == CMD_RECORD_HEADER) {
                const auto duration = LoadLE<std::uint32_t>(reply.data(), 24);
                const auto period = LoadLE<std::uint32_t>(reply.data(), 28);
                if (period == 0 || duration / period > MAX_SAMPLES)
                    return Failure(STATUS_BAD_REPLY);
                header = DecodeDeviceMsrHeader(reply.first<DEVICE_MSR_HEADER_SIZE>());
            } else {
                block.assign(reply.begin(), reply.end());
            }
        }
        BuildMsrResult(header,
            std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE>(block.data(), block.size()),
            expectation.Records.emplace_back());
    }
    if (kCommand == CMD_DEVICE_INFO || kCommand == CMD_DEVICE_NAME)
        expectation.Replaced = 1;
    return expectation;
}

double OleDays(std::chrono::year_month_day date)
{
    using namespace std::chrono;
    return static_cast<double>((sys_days(date) - sys_days(year{1899} / December / 30)).count());
}

// What any delivered record must be, whatever the instrument sent.
void CheckDelivered(const TMsrResult& record)
{
    using namespace std::chrono;
    const std::size_t n = record.SampleCount();
    FUZZ_CHECK(record.Period != 0);
    FUZZ_CHECK(n <= MAX_SAMPLES);
    FUZZ_CHECK(record.Data.size() == DEVICE_ARRAY_COUNT);
    for (const TSampleArray& array : record.Data)
        FUZZ_CHECK(array.size() == n);
    FUZZ_CHECK(record.DataVersion == MSR_DATA_VERSION);
    FUZZ_CHECK(record.ConcretionTime == DEFAULT_CONCRETION_TIME);
    // The instrument's clock counts years from 2000 in one byte.
    FUZZ_CHECK(std::isfinite(record.BeginDateTime));
    FUZZ_CHECK(record.BeginDateTime >= OleDays(year{2000} / January / 1));
    FUZZ_CHECK(record.BeginDateTime < OleDays(year{2256} / January / 1));

    TMsrResult stored;
    FUZZ_CHECK(DecodeMsrResult(EncodeMsrResult(record), stored) == 0);
    FUZZ_CHECK(SameMsrResult(stored, AsStored(record)));
}

// What record i took from a swapped reply, read straight from the reply's bytes.
void CheckTakenFromReply(const TReplyInput& input, std::size_t i, const TMsrResult& record)
{
    if (input.Record && input.Record != i)
        return;
    const std::uint8_t* reply = input.Reply.data();
    if (kCommand == CMD_RECORD_HEADER) {
        FUZZ_CHECK(record.MeasureNumber == LoadLE<std::int32_t>(reply, 8));
        FUZZ_CHECK(record.CementMass == LoadLE<std::uint32_t>(reply, 12));
        FUZZ_CHECK(record.ExpCementGrade == LoadLE<std::uint32_t>(reply, 16));
        FUZZ_CHECK(record.Supplier == LoadLE<std::uint32_t>(reply, 20));
        FUZZ_CHECK(record.Duration == LoadLE<std::uint32_t>(reply, 24));
        FUZZ_CHECK(record.Period == LoadLE<std::uint32_t>(reply, 28));
    } else if (kCommand == CMD_RECORD_DATA) {
        const TDeviceMsrHeader& header = FuzzInstrument(input.Records).Measurements[i].Header;
        const double scales[DEVICE_ARRAY_COUNT]
            = {header.VolumeScale, header.TempScale, header.Temp2Scale, header.ResistanceScale};
        for (std::size_t k = 0; k < DEVICE_ARRAY_COUNT; ++k) {
            for (std::size_t j = 0; j < record.Data[k].size(); ++j) {
                const auto raw = LoadLE<std::uint16_t>(reply, 2 * (k * MAX_SAMPLES + j));
                FUZZ_CHECK(record.Data[k][j] == static_cast<float>(raw * scales[k]));
            }
        }
    }
}

void FuzzDownload(const TReplyInput& input)
{
    const auto backend = std::make_shared<TFuzzedReplyBackend>(kCommand, input.Record, input.Reply);
    backend->Simulator().Plug(FuzzInstrument(input.Records));
    FUZZ_CHECK(USBInitialize(backend) == STATUS_SUCCESS);
    TMessages messages;
    std::int32_t code = -1;
    TArrayOfMsrResult results;
    {
        TDownloadThread worker(messages.Callback());
        worker.Start();
        // Every reply is there at once; only a worker that hangs takes this long.
        FUZZ_CHECK(worker.WaitFor(10s));
        code = worker.ResultCode();
        results = worker.TakeResults();
    }
    USBFinalize();

    const TExpectation expected = Expect(input);
    FUZZ_CHECK(static_cast<TUSBStatus>(code) == expected.Status);
    FUZZ_CHECK(backend->Replaced() == expected.Replaced);

    // Whole percents in order, then exactly one end message, the last.
    const std::vector<TMessage> list = messages.List();
    FUZZ_CHECK(!list.empty());
    std::vector<std::uint32_t> progress;
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        FUZZ_CHECK(list[i].first == TDownloadThread::ProgressParam);
        FUZZ_CHECK(list[i].second < 100);
        FUZZ_CHECK(progress.empty() || list[i].second > progress.back());
        progress.push_back(list[i].second);
    }
    if (code != 0) {
        FUZZ_CHECK(list.back() == TMessage(TDownloadThread::FailureParam, static_cast<std::uint32_t>(code)));
        FUZZ_CHECK(results.empty());
        return;
    }
    FUZZ_CHECK(list.back() == TMessage(TDownloadThread::SuccessParam, 0));
    const std::size_t count = expected.Records.size();
    FUZZ_CHECK(progress.size() == std::min<std::size_t>(count, 100));
    FUZZ_CHECK(results.size() == count);
    for (std::size_t i = 0; i < count; ++i) {
        CheckDelivered(results[i]);
        CheckTakenFromReply(input, i, results[i]);
        FUZZ_CHECK(SameMsrResult(results[i], expected.Records[i]));
    }
}

void FuzzScreen(std::span<const std::uint8_t> reply)
{
    const auto backend = std::make_shared<TFuzzedReplyBackend>(kCommand, std::nullopt, reply);
    backend->Simulator().Plug(FuzzInstrument(1));
    FUZZ_CHECK(USBInitialize(backend) == STATUS_SUCCESS);
    // A frame showing a picture already, so that a failed read has something to clear.
    TScreenFrame frame;
    frame.DecodeScreen(FuzzInstrument(1).Screen);
    const TUSBStatus status = ReadScreenFrame(frame);
    USBFinalize();

    FUZZ_CHECK(backend->Replaced() == 1);
    FUZZ_CHECK(status == (reply.size() > SCREEN_REPLY_SIZE ? STATUS_USB_OVERFLOW : STATUS_SUCCESS));
    for (int y = -1; y <= SCREEN_FRAME_HEIGHT; ++y) {
        for (int x = -1; x <= SCREEN_FRAME_WIDTH; ++x) {
            const bool outside = x < 0 || y < 0 || x >= SCREEN_FRAME_WIDTH || y >= SCREEN_FRAME_HEIGHT;
            const bool border
                = x == 0 || y == 0 || x == SCREEN_FRAME_WIDTH - 1 || y == SCREEN_FRAME_HEIGHT - 1;
            const int column = x - SCREEN_DISPLAY_ORIGIN;
            const int row = y - SCREEN_DISPLAY_ORIGIN;
            bool expected = border && !outside;
            if (status == STATUS_SUCCESS && column >= 0 && column < DISPLAY_WIDTH && row >= 0
                && row < DISPLAY_HEIGHT) {
                // Bytes a short reply did not bring read as clear.
                const auto b = static_cast<std::size_t>(row / 8 * DISPLAY_WIDTH + column);
                expected = b < reply.size() && (reply[b] >> (row % 8) & 1) != 0;
            }
            FUZZ_CHECK(frame.Pixel(x, y) == expected);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    if (kCommand == CMD_SCREEN)
        FuzzScreen(input);
    else if (const auto split = SplitReplyInput(input))
        FuzzDownload(*split);
    return 0;
}
