#pragma once

// Which sample a measurement is, and the strength the standard test measured later: edited
// beside the comment and kept with the project's other pending changes. Every keystroke
// reaches the current row at once, as in the comment, so saving or cancelling takes it along.

#include "store/CachedDataSet.h"

#include <QWidget>

class QDateEdit;
class QLineEdit;
class TMainDataModule;

class TSamplePanel : public QWidget, private TDataSetListener
{
    Q_OBJECT

public:
    explicit TSamplePanel(TMainDataModule& dataModule, QWidget* parent = nullptr);
    ~TSamplePanel() override;

    // Shows the current row's values (empty and read only without a row).
    void Reload();

    QLineEdit* CodeEdit() const { return m_code; }
    QLineEdit* CementTypeEdit() const { return m_cementType; }
    QLineEdit* ManufacturerEdit() const { return m_manufacturer; }
    QLineEdit* BatchEdit() const { return m_batch; }
    QDateEdit* SamplingDateEdit() const { return m_samplingDate; }
    QLineEdit* StrengthEdit() const { return m_strength; }
    QDateEdit* StrengthDateEdit() const { return m_strengthDate; }

Q_SIGNALS:
    // An entry was finished (the moment the row is posted).
    void Exit();

private:
    void Edited();
    void DataSetChanged() override { Reload(); }
    void RecordChanged() override { Reload(); }
    void CurrentChanged() override { Reload(); }
    void StateChanged() override { }

    TMainDataModule& m_dataModule;
    QLineEdit* m_code;
    QLineEdit* m_cementType;
    QLineEdit* m_manufacturer;
    QLineEdit* m_batch;
    QDateEdit* m_samplingDate;
    QLineEdit* m_strength;
    QDateEdit* m_strengthDate;
    bool m_loading = false;
    bool m_writing = false;
};

// "дд.мм.гггг" dates of the panel and OLE dates of the store.
double OleDateOf(const QDate& date);
QDate DateOfOle(double oleDate);
