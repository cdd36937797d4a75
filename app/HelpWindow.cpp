#include "app/HelpWindow.h"

#include "app/OperatorDialogs.h"

#include <QFile>
#include <QKeySequence>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

// The help lives in the static UI library, whose resources are not registered by themselves.
static void InitHelpResource()
{
    Q_INIT_RESOURCE(Help);
}

namespace {

const QString kHelpFile = QStringLiteral("qrc:/help/help.html");

} // namespace

QString HelpText()
{
    InitHelpResource();
    QFile file(QStringLiteral(":/help/help.html"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

THelpWindow::THelpWindow(QWidget* owner)
    : QWidget(owner, Qt::Window)
{
    InitHelpResource();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Справка — ") + APPLICATION_TITLE);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("HelpBrowser"));
    m_browser->setOpenExternalLinks(true);
    m_browser->setSource(QUrl(kHelpFile));
    layout->addWidget(m_browser);
    // A size that reads comfortably, within what the screen offers.
    const int width = fontMetrics().averageCharWidth() * 90;
    resize(width, width * 4 / 5);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

void THelpWindow::ShowSection(const QString& anchor)
{
    if (anchor.isEmpty())
        m_browser->setSource(QUrl(kHelpFile));
    else
        m_browser->scrollToAnchor(anchor);
    show();
    raise();
    activateWindow();
}
