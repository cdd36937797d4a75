#pragma once

// Controls bound to a field of the current row: a memo and the record navigator.
// They follow the dataset through its listener and change it only through the
// functions they are given, so the store's text encoding stays the store's business.
//
// The memo never hands Qt one huge paragraph: laying out a line of a megabyte takes
// seconds to minutes, and so does a document of a million short lines. A line longer
// than kLongestShownLine is shown as several paragraphs joined by soft breaks, and each
// paragraph remembers the break it stands for (LF, CR LF, CR or soft) in its block
// format, which survives undo, so the text given back is exactly the text read plus
// what the operator typed. A text that would still need more than kMostEditableLines
// paragraphs is shown whole but read only, its lines packed into a few paragraphs.

#include "store/CachedDataSet.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string>

class QToolButton;

class TDBMemo : public QPlainTextEdit, private TDataSetListener
{
    Q_OBJECT

public:
    using TRead = std::function<std::string()>;
    using TWrite = std::function<void(const std::string&)>;

    explicit TDBMemo(QWidget* parent = nullptr);
    ~TDBMemo() override;

    // What the operator types goes to `write` at once, so the dataset is in edit state
    // from the first keystroke; the text is shown again from `read` when the row changes.
    void Bind(TCachedDataSet& dataSet, TRead read, TWrite write);
    void Reload();

    static constexpr int kLongestShownLine = 4000;
    static constexpr int kMostEditableLines = 20000;

    // The text with the line breaks it was read with; a break the operator types is the
    // text's own kind (CR LF when it held one, else LF).
    QString Text() const;
    // Too many lines to edit here: shown whole, read only.
    bool TooLargeToEdit() const { return m_tooLarge; }

Q_SIGNALS:
    // The memo lost the keyboard focus (the moment the text is posted).
    void Exit();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void ShowText(const QString& text);
    // Inserts `text` at `cursor` as paragraphs of at most kLongestShownLine characters.
    void InsertLines(QTextCursor& cursor, const QString& text);
    void DataSetChanged() override { Reload(); }
    void RecordChanged() override { Reload(); }
    void CurrentChanged() override { Reload(); }
    void StateChanged() override { }
    void TextEdited();

    TCachedDataSet* m_dataSet = nullptr;
    TRead m_read;
    TWrite m_write;
    // What was last read or written; a read giving the same is not shown again.
    std::optional<std::string> m_shown;
    int m_typedBreak = 0; // the kind of break the operator types
    bool m_tooLarge = false;
    QString m_tooLargeText;
    bool m_loading = false;
    bool m_writing = false;
};

class TDBNavigator : public QWidget, private TDataSetListener
{
    Q_OBJECT

public:
    enum TButton
    {
        nbFirst,
        nbPrior,
        nbNext,
        nbLast,
        nbDelete,
        nbPost,
    };

    explicit TDBNavigator(TCachedDataSet& dataSet, QWidget* parent = nullptr);
    ~TDBNavigator() override;

    QToolButton* Button(TButton button) const { return m_buttons[button]; }
    void UpdateButtons();

private:
    void DataSetChanged() override { UpdateButtons(); }
    void RecordChanged() override { UpdateButtons(); }
    void CurrentChanged() override { UpdateButtons(); }
    void StateChanged() override { UpdateButtons(); }
    void Click(TButton button);

    TCachedDataSet& m_dataSet;
    std::array<QToolButton*, 6> m_buttons{};
};
