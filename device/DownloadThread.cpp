#include "device/DownloadThread.h"

#include "device/DeviceProtocol.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <span>
#include <string>
#include <vector>

struct TDownloadThread::TState
{
    std::atomic<bool> StopRequested{false};
    std::atomic<std::int32_t> ResultCode{-1};

    std::mutex NotifyMutex; // held while Notify runs, so disconnecting waits for a call
    TNotify Notify;

    std::mutex Mutex; // guards Finished and Results once the worker has ended
    std::condition_variable Ended;
    bool Finished = false;
    TArrayOfMsrResult Results;

    void Post(int param, std::uint32_t value)
    {
        std::lock_guard lock(NotifyMutex);
        if (Notify)
            Notify(param, value);
    }
};

namespace {

class TExchanger
{
public:
    explicit TExchanger(const std::atomic<bool>& stop)
        : m_stop(stop)
    { }

    // A reply must have exactly the length its command has.
    TUSBStatus Exchange(std::uint32_t command, std::uint8_t* reply, std::size_t length)
    {
        if (m_stop.load())
            return STATUS_STOPPED;
        std::uint32_t received = 0;
        const TUSBStatus status = USBExchange(command, nullptr, 0, reply, static_cast<std::uint32_t>(length),
            length != 0 ? &received : nullptr);
        if (status == STATUS_SUCCESS && received != length)
            return STATUS_SHORT_REPLY;
        return status;
    }

private:
    const std::atomic<bool>& m_stop;
};

TUSBStatus ReadDevice(
    const std::atomic<bool>& stop, const std::function<void(int)>& progress, TArrayOfMsrResult& results)
{
    TExchanger link(stop);
    std::array<std::uint8_t, DEVICE_INFO_SIZE> infoBytes{};
    TUSBStatus s = link.Exchange(CMD_DEVICE_INFO, infoBytes.data(), infoBytes.size());
    if (s != STATUS_SUCCESS)
        return s;
    const TDeviceInfo info = DecodeDeviceInfo(infoBytes);
    if (info.NameLength > MAX_NAME_LENGTH)
        return STATUS_BAD_REPLY;

    std::string name;
    if (info.NameLength != 0) {
        std::vector<std::uint8_t> nameBytes(info.NameLength);
        s = link.Exchange(CMD_DEVICE_NAME, nameBytes.data(), nameBytes.size());
        if (s != STATUS_SUCCESS)
            return s;
        name = DecodeDeviceName(nameBytes);
    }
    if (name != DEVICE_NAME || info.DataVersion != DEVICE_DATA_VERSION)
        return STATUS_WRONG_DEVICE;
    if (info.RecordCount < 0 || info.RecordCount > MAX_RECORD_COUNT)
        return STATUS_BAD_REPLY;

    const auto count = static_cast<std::size_t>(info.RecordCount);
    if (count == 0)
        return STATUS_SUCCESS;
    std::vector<std::uint8_t> samples(DEVICE_MSR_DATA_SIZE);
    results.reserve(count);
    s = link.Exchange(CMD_START_READ, nullptr, 0);
    if (s != STATUS_SUCCESS)
        return s;

    int lastPercent = -1;
    for (std::size_t i = 0; i < count; ++i) {
        const int percent = static_cast<int>(i * 100 / count);
        if (percent != lastPercent) {
            progress(percent);
            lastPercent = percent;
        }
        std::array<std::uint8_t, DEVICE_MSR_HEADER_SIZE> headerBytes{};
        s = link.Exchange(CMD_RECORD_HEADER, headerBytes.data(), headerBytes.size());
        if (s != STATUS_SUCCESS)
            return s;
        const TDeviceMsrHeader header = DecodeDeviceMsrHeader(headerBytes);
        if (!IsValidDeviceMsrHeader(header))
            return STATUS_BAD_REPLY;
        s = link.Exchange(CMD_RECORD_DATA, samples.data(), samples.size());
        if (s != STATUS_SUCCESS)
            return s;
        BuildMsrResult(header,
            std::span<const std::uint8_t, DEVICE_MSR_DATA_SIZE>(samples.data(), samples.size()),
            results.emplace_back());
    }
    return STATUS_SUCCESS;
}

} // namespace

TDownloadThread::TDownloadThread(TNotify notify)
    : m_state(std::make_shared<TState>())
{
    m_state->Notify = std::move(notify);
}

TDownloadThread::~TDownloadThread()
{
    RequestStop();
    {
        std::lock_guard lock(m_state->NotifyMutex);
        m_state->Notify = nullptr;
    }
    if (!m_thread.joinable())
        return;
    if (Finished())
        m_thread.join();
    else
        m_thread.detach();
}

void TDownloadThread::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread(&TDownloadThread::Execute, m_state);
}

void TDownloadThread::RequestStop()
{
    m_state->StopRequested = true;
}

bool TDownloadThread::WaitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_state->Mutex);
    return m_state->Ended.wait_for(lock, timeout, [this] { return m_state->Finished; });
}

bool TDownloadThread::Finished() const
{
    std::lock_guard lock(m_state->Mutex);
    return m_state->Finished;
}

std::int32_t TDownloadThread::ResultCode() const
{
    return m_state->ResultCode.load();
}

TArrayOfMsrResult TDownloadThread::TakeResults()
{
    std::lock_guard lock(m_state->Mutex);
    if (!m_state->Finished || m_state->ResultCode.load() != 0)
        return {};
    return std::move(m_state->Results);
}

void TDownloadThread::Execute(std::shared_ptr<TState> state)
{
    TArrayOfMsrResult results;
    const TUSBStatus s = ReadDevice(
        state->StopRequested, [&](int percent) { state->Post(ProgressParam, percent); }, results);
    if (s != STATUS_SUCCESS) {
        results.clear();
        state->Post(FailureParam, s);
    } else {
        state->Post(SuccessParam, 0);
    }
    std::lock_guard lock(state->Mutex);
    state->Results = std::move(results);
    state->ResultCode = static_cast<std::int32_t>(s);
    state->Finished = true;
    state->Ended.notify_all();
}
