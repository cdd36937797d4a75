#include "app/DBControls.h"

#include "app/OperatorDialogs.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QToolButton>

namespace {

// The break before a paragraph of the memo; a paragraph without the property stands for
// the kind the operator types.
enum TLineBreak
{
    lbLf,
    lbCrLf,
    lbCr,
    lbSoft, // none: one long line shown as several paragraphs
};
constexpr int kBreakProperty = QTextFormat::UserProperty + 1;
// Lines of a text too large to edit packed into one paragraph.
constexpr int kPackedLines = 100;

bool IsBreak(QChar ch)
{
    // Qt starts a paragraph at each of these; the last four only come from the clipboard.
    return ch == QLatin1Char('\n') || ch == QLatin1Char('\r') || ch == QChar::ParagraphSeparator
        || ch == QChar::LineSeparator || ch.unicode() == 0xFDD0 || ch.unicode() == 0xFDD1;
}

// Calls line(begin, length, break before it) for each line of `text`, a line longer than
// `longest` cut into pieces after a space near the end when there is one and never inside a
// surrogate pair. No list of lines is made: a text may hold millions.
template <typename TLine>
void ForEachShownLine(const QString& text, qsizetype longest, int otherBreak, TLine line)
{
    int pendingBreak = lbLf;
    qsizetype begin = 0;
    const qsizetype size = text.size();
    const auto addLine = [&](qsizetype end) {
        while (end - begin > longest) {
            qsizetype cut = begin + longest;
            for (qsizetype i = cut; i > cut - longest / 10; --i)
                if (text[i - 1] == QLatin1Char(' ')) {
                    cut = i;
                    break;
                }
            if (text[cut - 1].isHighSurrogate())
                --cut;
            line(begin, cut - begin, pendingBreak);
            pendingBreak = lbSoft;
            begin = cut;
        }
        line(begin, end - begin, pendingBreak);
    };
    for (qsizetype i = 0; i < size; ++i) {
        const QChar ch = text[i];
        if (!IsBreak(ch))
            continue;
        addLine(i);
        if (ch == QLatin1Char('\r') && i + 1 < size && text[i + 1] == QLatin1Char('\n')) {
            pendingBreak = lbCrLf;
            ++i;
        } else if (ch == QLatin1Char('\r'))
            pendingBreak = lbCr;
        else
            pendingBreak = ch == QLatin1Char('\n') ? lbLf : otherBreak;
        begin = i + 1;
    }
    addLine(size);
}

QLatin1StringView BreakText(int lineBreak)
{
    switch (lineBreak) {
    case lbCrLf:
        return QLatin1StringView("\r\n");
    case lbCr:
        return QLatin1StringView("\r");
    case lbSoft:
        return QLatin1StringView("");
    default:
        return QLatin1StringView("\n");
    }
}

} // namespace

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
    std::string text = hasRow ? m_read() : std::string();
    if (!m_shown || text != *m_shown) {
        ShowText(QString::fromStdString(text));
        m_shown = std::move(text);
    }
    setReadOnly(!hasRow || m_tooLarge);
}

void TDBMemo::ShowText(const QString& text)
{
    m_loading = true;
    m_typedBreak = text.contains(QLatin1StringView("\r\n")) ? lbCrLf : lbLf;
    qsizetype lineCount = 0;
    ForEachShownLine(
        text, kLongestShownLine, m_typedBreak, [&lineCount](qsizetype, qsizetype, int) { ++lineCount; });
    m_tooLarge = lineCount > kMostEditableLines;
    m_tooLargeText = m_tooLarge ? text : QString();
    if (m_tooLarge) {
        // Lines packed into paragraphs by line separators: Qt's cost goes with paragraphs.
        QString shown = QStringLiteral("[Текст слишком велик для правки (%L1 строк): он показан только для "
                                       "чтения и хранится без изменений.]\n")
                            .arg(lineCount);
        shown.reserve(shown.size() + text.size());
        qsizetype paragraph = 0;
        int paragraphLines = 0;
        ForEachShownLine(
            text, kLongestShownLine, m_typedBreak, [&](qsizetype begin, qsizetype length, int lineBreak) {
                if (begin > 0) {
                    const bool newParagraph = lineBreak == lbSoft || paragraph >= kLongestShownLine
                        || paragraphLines >= kPackedLines;
                    shown += newParagraph ? QChar(QLatin1Char('\n')) : QChar(QChar::LineSeparator);
                    paragraph = newParagraph ? 0 : paragraph + 1;
                    paragraphLines = newParagraph ? 0 : paragraphLines + 1;
                }
                shown += QStringView(text).mid(begin, length);
                paragraph += length;
            });
        setPlainText(shown);
    } else {
        setPlainText(QString());
        document()->setUndoRedoEnabled(false);
        QTextCursor cursor(document());
        InsertLines(cursor, text);
        document()->setUndoRedoEnabled(true);
        moveCursor(QTextCursor::Start);
    }
    m_loading = false;
}

void TDBMemo::InsertLines(QTextCursor& cursor, const QString& text)
{
    cursor.beginEditBlock();
    ForEachShownLine(text, kLongestShownLine, m_typedBreak,
        [this, &cursor, &text](qsizetype begin, qsizetype length, int lineBreak) {
            if (begin > 0) {
                QTextBlockFormat format;
                if (lineBreak != m_typedBreak)
                    format.setProperty(kBreakProperty, lineBreak);
                cursor.insertBlock(format);
            }
            cursor.insertText(text.mid(begin, length));
        });
    cursor.endEditBlock();
}

QString TDBMemo::Text() const
{
    if (m_tooLarge)
        return m_tooLargeText;
    QString text;
    text.reserve(document()->characterCount());
    const QLatin1StringView typed = BreakText(m_typedBreak);
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block != document()->begin()) {
            const QVariant lineBreak = block.blockFormat().property(kBreakProperty);
            text += lineBreak.isValid() ? BreakText(lineBreak.toInt()) : typed;
        }
        QString line = block.text();
        // Shift+Enter puts a line separator inside the paragraph.
        if (line.contains(QChar::LineSeparator))
            line.replace(QChar::LineSeparator, typed);
        text += line;
    }
    return text;
}

void TDBMemo::keyPressEvent(QKeyEvent* event)
{
    // Qt would give the new paragraph the format of the one it splits, and with it the
    // break that one stands for.
    if (!isReadOnly()
        && (event->matches(QKeySequence::InsertParagraphSeparator)
            || event->matches(QKeySequence::InsertLineSeparator))) {
        QTextCursor cursor = textCursor();
        cursor.insertBlock(QTextBlockFormat());
        setTextCursor(cursor);
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TDBMemo::insertFromMimeData(const QMimeData* source)
{
    if (isReadOnly() || !source || !source->hasText())
        return;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    InsertLines(cursor, source->text());
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TDBMemo::TextEdited()
{
    if (m_loading || !m_dataSet || !m_dataSet->Active() || m_dataSet->IsEmpty())
        return;
    m_writing = true;
    try {
        std::string text = Text().toStdString();
        m_write(text);
        m_shown = std::move(text);
    } catch (...) {
        // The store may not hold what is shown: the next read is shown whatever it is.
        m_shown.reset();
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
