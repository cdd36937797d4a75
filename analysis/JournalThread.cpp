#include "analysis/JournalThread.h"

#include <exception>

TJournalThread::TJournalThread(TJournalSource source, TProgress progress, TDone done)
    : m_source(std::move(source))
    , m_progress(std::move(progress))
    , m_done(std::move(done))
{ }

TJournalThread::~TJournalThread()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

void TJournalThread::Start()
{
    m_thread = std::thread([this] { Run(); });
}

void TJournalThread::Run()
{
    std::string error;
    try {
        m_completed = ComputeJournal(m_source, m_progress, m_cancel);
    } catch (const std::exception& e) {
        error = e.what();
        m_completed = false;
    }
    if (m_done)
        m_done(m_completed, error);
}

TJournal TJournalThread::TakeJournal()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_completed ? std::move(m_source.Rows) : TJournal{};
}
