#pragma once

// Where a project on a Firebird server is and who opens it. The password is asked every
// time and never written anywhere; the rest is offered again as last given.

#include "store/ProjectTarget.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLineEdit;

class TServerProjectForm : public QDialog
{
public:
    TServerProjectForm(QWidget* owner, const QString& title, const TProjectTarget& last);
    // What was entered; meaningful once the form was accepted.
    TProjectTarget Target() const;

private:
    void CheckAndAccept();

    QLineEdit* m_host = nullptr;
    QLineEdit* m_port = nullptr;
    QLineEdit* m_path = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
};

// Shows TServerProjectForm; empty when the operator cancelled. Tests put their own asker
// in its place (nullptr brings the form back).
using TServerProjectAsker
    = std::function<std::optional<TProjectTarget>(const QString& title, const TProjectTarget& last)>;
std::optional<TProjectTarget> AskServerProject(
    QWidget* owner, const QString& title, const TProjectTarget& last);
void SetServerProjectAsker(TServerProjectAsker asker);
