#include "ScriptedDialogs.h"

QMessageBox::StandardButton TScriptedDialogs::Message(
    const QString& caption, const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    Messages.push_back({caption, text, icon, buttons});
    if (!Answers.empty()) {
        const auto answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    return buttons == QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::NoButton;
}

QString TScriptedDialogs::SaveFileName(const TFileDialogOptions& options)
{
    FileDialogs.push_back({true, options});
    if (Files.empty())
        return {};
    QString file = Files.front();
    Files.pop_front();
    return file;
}

QString TScriptedDialogs::OpenFileName(const TFileDialogOptions& options)
{
    FileDialogs.push_back({false, options});
    if (Files.empty())
        return {};
    QString file = Files.front();
    Files.pop_front();
    return file;
}

void TUiTest::SetUp()
{
    auto dialogs = std::make_unique<TScriptedDialogs>();
    Dialogs = dialogs.get();
    m_previous = SetOperatorDialogs(std::move(dialogs));
}

void TUiTest::TearDown()
{
    for (const auto& message : Dialogs->Messages)
        ADD_FAILURE() << "message box not expected by the test: " << message.Text.toStdString();
    EXPECT_TRUE(Dialogs->Answers.empty()) << "scripted answers left unused";
    SetOperatorDialogs(std::move(m_previous));
    Dialogs = nullptr;
}

TShownMessage TUiTest::TakeMessage()
{
    if (Dialogs->Messages.empty()) {
        ADD_FAILURE() << "no message box was shown";
        return {};
    }
    TShownMessage message = Dialogs->Messages.front();
    Dialogs->Messages.erase(Dialogs->Messages.begin());
    return message;
}
