#pragma once

// The modal progress window of a download. It starts the worker, moves its bar on the
// worker's progress and closes itself when the worker reports the end. Release stops
// the worker, waits for it at most kStopWait and takes its status; no thread is ended by
// force: a worker still running then finishes on its own and what it read is dropped.

#include "device/DownloadThread.h"

#include <QDialog>

#include <chrono>
#include <cstdint>
#include <memory>

class QProgressBar;
class QPushButton;

class TDownloadForm : public QDialog
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kStopWait{2500};

    explicit TDownloadForm(QWidget* owner);
    ~TDownloadForm() override; // Release when the caller has not

    // Starts the worker (once); Release then moves its records into `results` after a
    // reported success and empties `results` otherwise.
    void RunDownloadThread(TArrayOfMsrResult& results);
    // Stops the worker, waits for it, copies its ResultCode and, after a reported
    // success, its records. Safe to call twice and without a worker.
    void Release();

    // True once the worker reported success through its end message.
    bool Success() const { return m_success; }
    // -1 until Release; then the worker's final status.
    std::int32_t ResultCode() const { return m_resultCode; }

    QProgressBar* DownloadGauge() const { return m_downloadGauge; }
    QPushButton* CancelButton() const { return m_cancelButton; }

private:
    void WorkerMessage(int param, std::uint32_t value); // WndProc
    void CancelButtonClick();

    QProgressBar* m_downloadGauge = nullptr;
    QPushButton* m_cancelButton = nullptr;
    std::unique_ptr<TDownloadThread> m_thread;
    TArrayOfMsrResult* m_results = nullptr;
    bool m_closed = false; // the outcome is fixed once the window has closed
    bool m_success = false;
    std::int32_t m_resultCode = -1;
};
