#pragma once

// The journal computed on a thread of its own (ComputeJournal). The callbacks run on that
// thread: a window binds them to queued calls. Cancel ends the work at the next row; the
// destructor cancels and waits, which takes at most one row's read.

#include "analysis/Journal.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class TJournalThread
{
public:
    using TProgress = std::function<void(int done, int total)>;
    // Called once, last: true when every row was computed; `error` holds the engine's text
    // when the project could not be read.
    using TDone = std::function<void(bool completed, const std::string& error)>;

    TJournalThread(TJournalSource source, TProgress progress, TDone done);
    ~TJournalThread();
    TJournalThread(const TJournalThread&) = delete;
    TJournalThread& operator=(const TJournalThread&) = delete;

    void Start();
    void Cancel() { m_cancel = true; }
    // Waits for the thread; the rows after it completed (empty after a cancel or an error).
    TJournal TakeJournal();

private:
    void Run();

    TJournalSource m_source;
    TProgress m_progress;
    TDone m_done;
    std::atomic<bool> m_cancel{false};
    bool m_completed = false;
    std::thread m_thread;
};
