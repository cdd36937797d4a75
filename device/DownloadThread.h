#pragma once

// The worker that reads every stored measurement from the instrument.
//
// Sequence: command 1 (information), command 2 (name, unless L is 0), checks of name and
// data version, command 3 (start, only when N > 0), then per record command 4 (header) and
// command 5 (samples). Progress i * 100 div N is posted before record i whenever it
// changes; the end is posted as SuccessParam or FailureParam with the status, and only then
// is ResultCode set. Failure is all or nothing: the results are emptied.
//
// Life: Start runs the worker on its own thread. RequestStop is seen before the next
// exchange (the one in flight ends within its 2000 ms time-out); a worker stopped that way
// ends with STATUS_STOPPED, shown to the operator as FFFFFFFF. A window waits with WaitFor
// and may then destroy the object whether the worker has ended or not: the worker's state
// is shared, the callback is disconnected first, and a worker still running finishes on
// its own and discards what it read. No thread is ever ended by force.

#include "device/USB.h"
#include "store/MsrResult.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

// Statuses of a download besides the exchange statuses of the link.
constexpr TUSBStatus STATUS_WRONG_DEVICE = 0x70000001;
// A reply that a working instrument cannot send: a period of 0, more than MAX_SAMPLES
// samples, a negative or absurd record count, a name longer than MAX_NAME_LENGTH.
constexpr TUSBStatus STATUS_BAD_REPLY = 0x70000002;
// A reply shorter than its command's length.
constexpr TUSBStatus STATUS_SHORT_REPLY = 0x70000003;
// The worker saw a stop request; as ResultCode it reads -1.
constexpr TUSBStatus STATUS_STOPPED = 0xFFFFFFFF;

class TDownloadThread
{
public:
    static constexpr int ProgressParam = 1; // value: percent done, 0..99
    static constexpr int SuccessParam = 2;  // value: 0
    static constexpr int FailureParam = 3;  // value: the non-zero status

    // Called on the worker thread; a window binds it to a queued call. It must not block
    // for long, nor destroy this object.
    using TNotify = std::function<void(int param, std::uint32_t value)>;

    explicit TDownloadThread(TNotify notify);
    // Requests a stop and, when the worker is still running, leaves it to end on its own;
    // the callback is not called once the destructor has returned.
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    // Starts the worker; does nothing when it has been started before.
    void Start();
    void RequestStop();
    // True when the worker has ended within `timeout` (at once when it has ended already).
    bool WaitFor(std::chrono::milliseconds timeout);
    bool Finished() const;
    // The final status as a signed value; -1 until the worker has ended.
    std::int32_t ResultCode() const;
    // The records read, in the instrument's order, once the worker has ended with 0;
    // empty otherwise. Moves them out.
    TArrayOfMsrResult TakeResults();

private:
    struct TState;
    static void Execute(std::shared_ptr<TState> state);

    std::shared_ptr<TState> m_state;
    std::thread m_thread;
};
