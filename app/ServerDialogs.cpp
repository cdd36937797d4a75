#include "app/ServerDialogs.h"

#include "app/OperatorDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

TServerProjectAsker& Asker()
{
    static TServerProjectAsker asker;
    return asker;
}

QLineEdit* Field(QFormLayout* form, const QString& label, const QString& text, const QString& name)
{
    auto* edit = new QLineEdit(text);
    edit->setObjectName(name);
    form->addRow(label, edit);
    return edit;
}

} // namespace

TServerProjectForm::TServerProjectForm(QWidget* owner, const QString& title, const TProjectTarget& last)
    : QDialog(owner)
{
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_host
        = Field(form, QStringLiteral("Сервер:"), QString::fromStdString(last.Host), QStringLiteral("Host"));
    m_port = Field(form, QStringLiteral("Порт:"), QString::fromStdString(last.Port), QStringLiteral("Port"));
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_port->setPlaceholderText(QStringLiteral("3050"));
    m_path = Field(form, QStringLiteral("Файл или псевдоним:"), QString::fromStdString(last.Path),
        QStringLiteral("Path"));
    m_path->setPlaceholderText(QStringLiteral("/var/lib/cement-lab/проект.fdb"));
    m_user = Field(
        form, QStringLiteral("Пользователь:"), QString::fromStdString(last.User), QStringLiteral("User"));
    m_password = Field(form, QStringLiteral("Пароль:"), QString(), QStringLiteral("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    layout->addLayout(form);
    auto* hint = new QLabel(QStringLiteral("Пароль не сохраняется и спрашивается при каждом подключении."));
    hint->setWordWrap(true);
    layout->addWidget(hint);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TServerProjectForm::CheckAndAccept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    (last.Host.empty() ? m_host : m_password)->setFocus();
    setMinimumWidth(420);
}

TProjectTarget TServerProjectForm::Target() const
{
    return ServerProject(m_host->text().trimmed().toStdString(), m_port->text().trimmed().toStdString(),
        m_path->text().trimmed().toStdString(), m_user->text().trimmed().toStdString(),
        m_password->text().toStdString());
}

void TServerProjectForm::CheckAndAccept()
{
    const TProjectTarget target = Target();
    QString missing;
    if (target.Host.empty() || target.Host.find(':') != std::string::npos)
        missing = QStringLiteral("Укажите имя или адрес сервера.");
    else if (target.Path.empty())
        missing = QStringLiteral("Укажите путь к файлу проекта на сервере или его псевдоним.");
    else if (target.User.empty())
        missing = QStringLiteral("Укажите имя пользователя.");
    if (!missing.isEmpty()) {
        ShowErrorMessage(missing);
        return;
    }
    accept();
}

std::optional<TProjectTarget> AskServerProject(
    QWidget* owner, const QString& title, const TProjectTarget& last)
{
    if (Asker())
        return Asker()(title, last);
    TServerProjectForm form(owner, title, last);
    CentreOnScreen(form);
    if (form.exec() != QDialog::Accepted)
        return std::nullopt;
    return form.Target();
}

void SetServerProjectAsker(TServerProjectAsker asker)
{
    Asker() = std::move(asker);
}
