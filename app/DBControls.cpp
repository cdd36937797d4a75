#include "app/DBControls.h"

#include "app/OperatorDialogs.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QToolButton>

TDBMemo::TDBMemo(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &TDBMemo::TextEdited);
}

TDBMemo::~TDBMemo()
{
    if (m_dataSet)
        m_dataSet->RemoveListener(this);
}

void TDBMemo::Bind(TCachedDataSet& dataSet, TRead read, TWrite write)
{
    if (m_dataSet)
        m_dataSet->RemoveListener(this);
    m_dataSet = &dataSet;
    m_read = std::move(read);
    m_write = std::move(write);
    m_dataSet->AddListener(this);
    Reload();
}

void TDBMemo::Reload()
{
    if (m_writing)
        return;
    const bool hasRow = m_dataSet && m_dataSet->Active() && !m_dataSet->IsEmpty();
    const QString text = hasRow ? QString::fromStdString(m_read()) : QString();
    setReadOnly(!hasRow);
    if (text == toPlainText())
        return;
    m_loading = true;
    setPlainText(text);
    m_loading = false;
}

void TDBMemo::TextEdited()
{
    if (m_loading || !m_dataSet || !m_dataSet->Active() || m_dataSet->IsEmpty())
        return;
    m_writing = true;
    try {
        m_write(toPlainText().toStdString());
    } catch (...) {
        m_writing = false;
        throw;
    }
    m_writing = false;
}

void TDBMemo::focusOutEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusOutEvent(event);
    Q_EMIT Exit();
}

TDBNavigator::TDBNavigator(TCachedDataSet& dataSet, QWidget* parent)
    : QWidget(parent)
    , m_dataSet(dataSet)
{
    struct TEntry
    {
        const char* Name;
        const char* Icon;
        const char* Hint;
    };
    static const TEntry kEntries[] = {
        {"nbFirst", ":/icons/first.svg", "Первая запись"},
        {"nbPrior", ":/icons/prior.svg", "Предыдущая запись"},
        {"nbNext", ":/icons/next.svg", "Следующая запись"},
        {"nbLast", ":/icons/last.svg", "Последняя запись"},
        {"nbDelete", ":/icons/delete.svg", "Удалить запись"},
        {"nbPost", ":/icons/post.svg", "Сохранить изменения"},
    };
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < 6; ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(kEntries[i].Name));
        button->setIcon(QIcon(QString::fromLatin1(kEntries[i].Icon)));
        button->setAutoRaise(true);
        button->setToolTip(QString::fromUtf8(kEntries[i].Hint));
        button->setStatusTip(QString::fromUtf8(kEntries[i].Hint));
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(button);
        m_buttons[i] = button;
        connect(button, &QToolButton::clicked, this, [this, i] { Click(static_cast<TButton>(i)); });
    }
    m_dataSet.AddListener(this);
    UpdateButtons();
}

TDBNavigator::~TDBNavigator()
{
    m_dataSet.RemoveListener(this);
}

void TDBNavigator::UpdateButtons()
{
    const bool active = m_dataSet.Active();
    const int recNo = active ? m_dataSet.RecNo() : 0;
    const int count = active ? m_dataSet.RecordCount() : 0;
    const bool editing
        = active && (m_dataSet.State() == TDataSetState::Edit || m_dataSet.State() == TDataSetState::Insert);
    m_buttons[nbFirst]->setEnabled(recNo > 1);
    m_buttons[nbPrior]->setEnabled(recNo > 1);
    m_buttons[nbNext]->setEnabled(recNo < count);
    m_buttons[nbLast]->setEnabled(recNo < count);
    m_buttons[nbDelete]->setEnabled(count > 0);
    m_buttons[nbPost]->setEnabled(editing);
}

void TDBNavigator::Click(TButton button)
{
    if (!m_dataSet.Active())
        return;
    RunCommand([this, button] {
        switch (button) {
        case nbFirst:
            m_dataSet.First();
            break;
        case nbPrior:
            m_dataSet.Prior();
            break;
        case nbNext:
            m_dataSet.Next();
            break;
        case nbLast:
            m_dataSet.Last();
            break;
        case nbDelete:
            m_dataSet.Delete();
            break;
        case nbPost:
            m_dataSet.Post();
            break;
        }
    });
    UpdateButtons();
}
