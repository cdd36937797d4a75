#pragma once

// The window that shows the program's name, description, version, year and its maker's contact
// data, each from the version strings looked up by name. A string the lookup does not find
// leaves its label with the text it was built with, which says the item is not known; the e-mail
// and web labels become clickable only when their address was found.

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

// The compiled-in version string of that name; nothing for an unknown name or an empty value.
std::optional<QString> VersionValue(const QString& key);

using TVersionQuery = std::function<std::optional<QString>(const QString& key)>;

class TAboutForm : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* owner);

    // Sets every label whose key the query finds, and the click targets of the two addresses.
    void Fill(const TVersionQuery& query = VersionValue);

    // "mailto:" and "http://" with the address; empty until the address is found.
    QString MailTarget() const { return m_mailTarget; }
    QString WebTarget() const { return m_webTarget; }

    QLabel* ProductNameLabel() const { return m_productNameLabel; }
    QLabel* CommentsLabel() const { return m_commentsLabel; }
    QLabel* FileVersionLabel() const { return m_fileVersionLabel; }
    QLabel* YearLabel() const { return m_yearLabel; }
    QLabel* CompanyNameLabel() const { return m_companyNameLabel; }
    QLabel* CompanyPhoneLabel() const { return m_companyPhoneLabel; }
    QLabel* CompanyEMailLabel() const { return m_companyEMailLabel; }
    QLabel* CompanyWebLabel() const { return m_companyWebLabel; }
    QPushButton* CloseButton() const { return m_closeButton; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CompanyEMailLabelClick();
    void CompanyWebLabelClick();
    // Places the controls at their design positions, moved right or down only as far as the
    // desktop's font needs to keep every text whole.
    void Arrange();

    QString m_mailTarget;
    QString m_webTarget;

    QWidget* m_bevel = nullptr;
    QLabel* m_productNameLabel = nullptr;
    QLabel* m_commentsLabel = nullptr;
    QLabel* m_fileVersionLabel = nullptr;
    QLabel* m_yearLabel = nullptr;
    QLabel* m_companyNameLabel = nullptr;
    QLabel* m_companyPhoneLabel = nullptr;
    QLabel* m_companyEMailLabel = nullptr;
    QLabel* m_companyWebLabel = nullptr;
    QPushButton* m_closeButton = nullptr;
};
