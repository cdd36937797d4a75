#include "device/DownloadUnit.h"

#include "app/OperatorDialogs.h"

#include <QFrame>
#include <QGuiApplication>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

// A title bar without buttons: the window ends through Cancel (or Esc) only.
constexpr Qt::WindowFlags kWindowFlags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

} // namespace

TDownloadForm::TDownloadForm(QWidget* owner)
    : QDialog(owner, kWindowFlags)
{
    setObjectName(QStringLiteral("DownloadForm"));
    setWindowTitle(QStringLiteral("Чтение из прибора"));
    setFixedSize(274, 91);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setGeometry(0, 0, 273, 57);

    m_downloadGauge = new QProgressBar(panel);
    m_downloadGauge->setObjectName(QStringLiteral("DownloadGauge"));
    m_downloadGauge->setGeometry(8, 16, 257, 25);
    m_downloadGauge->setRange(0, 100);
    m_downloadGauge->setValue(0);
    m_downloadGauge->setTextVisible(false);
    QPalette palette = m_downloadGauge->palette();
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    m_downloadGauge->setPalette(palette);

    m_cancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    // Wider than drawn only when a large desktop font needs it; kept in the middle.
    const int buttonWidth = std::max(75, m_cancelButton->sizeHint().width());
    m_cancelButton->setGeometry((width() - buttonWidth + 1) / 2, 64, buttonWidth, 25);
    connect(m_cancelButton, &QPushButton::clicked, this, &TDownloadForm::CancelButtonClick);

    // Every way of closing (end message, Cancel, Esc, the window manager) passes here.
    connect(this, &QDialog::finished, this, [this] { m_closed = true; });

    CentreOnScreen(*this);
}

TDownloadForm::~TDownloadForm()
{
    Release();
}

void TDownloadForm::RunDownloadThread(TArrayOfMsrResult& results)
{
    if (m_thread)
        return;
    m_results = &results;
    // The context object drops a call still queued when the window is gone; the worker's
    // destructor, run by Release before the window dies, waits for a call in progress.
    m_thread = std::make_unique<TDownloadThread>([this](int param, std::uint32_t value) {
        QMetaObject::invokeMethod(
            this, [this, param, value] { WorkerMessage(param, value); }, Qt::QueuedConnection);
    });
    m_thread->Start();
}

void TDownloadForm::Release()
{
    if (!m_thread)
        return;
    m_closed = true;
    m_thread->RequestStop();
    const bool ended = m_thread->WaitFor(kStopWait);
    if (ended)
        m_resultCode = m_thread->ResultCode();
    else
        m_success = false; // its records are not ours to take: never a success without them
    if (m_results) {
        if (m_success)
            *m_results = m_thread->TakeResults();
        else
            m_results->clear();
    }
    m_thread.reset();
}

void TDownloadForm::WorkerMessage(int param, std::uint32_t value)
{
    // After a cancel the worker may still report its end: the operator's choice stands.
    if (m_closed)
        return;
    switch (param) {
    case TDownloadThread::ProgressParam:
        m_downloadGauge->setValue(static_cast<int>(std::min<std::uint32_t>(value, 100)));
        break;
    case TDownloadThread::SuccessParam:
        m_success = true;
        accept();
        break;
    case TDownloadThread::FailureParam:
        m_success = false;
        reject();
        break;
    default:
        break;
    }
}

void TDownloadForm::CancelButtonClick()
{
    reject();
}
