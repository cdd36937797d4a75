#pragma once

// Controls bound to a field of the current row: a memo and the record navigator.
// They follow the dataset through its listener and change it only through the
// functions they are given, so the store's text encoding stays the store's business.

#include "store/CachedDataSet.h"

#include <QPlainTextEdit>
#include <QWidget>

#include <array>
#include <functional>
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

Q_SIGNALS:
    // The memo lost the keyboard focus (the moment the text is posted).
    void Exit();

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    void DataSetChanged() override { Reload(); }
    void RecordChanged() override { Reload(); }
    void CurrentChanged() override { Reload(); }
    void StateChanged() override { }
    void TextEdited();

    TCachedDataSet* m_dataSet = nullptr;
    TRead m_read;
    TWrite m_write;
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
