// The window's side of a project on a server: the question for where it is, the caption,
// a save stopped by another workstation's change, and "Обновить" asking whose change stays.
#include "tests/server/PrivateServer.h"
#include "tests/ui/MainFormFixture.h"

#include "app/ServerDialogs.h"

#include <gtest/gtest.h>

namespace {

class ServerWindowTest : public MainFormTest
{
protected:
    void TearDown() override
    {
        SetServerProjectAsker(nullptr);
        MainFormTest::TearDown();
    }
    TPrivateServer Server;
};

TEST_F(ServerWindowTest, ProjectOnAServerIsWorkedOnBesideAnotherWorkstation)
{
    std::vector<TProjectTarget> offered;
    SetServerProjectAsker([&](const QString&, const TProjectTarget& last) {
        offered.push_back(last);
        return std::optional<TProjectTarget>(Server.Target("window.fdb"));
    });
    Form->CreateServerProjectAction->trigger();
    ASSERT_TRUE(DataModule.IsProjectOpen());
    EXPECT_TRUE(Form->windowTitle().endsWith(
        QString::fromStdString("[localhost:" + Server.DatabasePath("window.fdb") + "]")))
        << Form->windowTitle().toStdString();
    Simulator->Plug(MakeRealisticInstrument(3, 7));
    EXPECT_EQ(Download(), std::make_pair(3, 3));
    Form->SaveProjectAction->trigger();
    const int first = static_cast<int>(std::get<std::int64_t>(
        DataModule.ResultDataSet().RowField(0, DataModule.ResultDataSet().FieldIndex("MEASURE_NUMBER"))));

    // The other workstation comments the first record and saves; this one comments it too.
    TWorkstationProcess other(SERVER_WORKSTATION, Server.Target("window.fdb"));
    ASSERT_EQ(other.Ask("open"), "opened");
    ASSERT_EQ(other.Ask("comment " + std::to_string(first) + " там"), "ok");
    ASSERT_EQ(other.Ask("save"), "saved");
    DataModule.ResultDataSet().First();
    DataModule.SetMeasureComment("здесь");
    DataModule.PostEdits();
    Form->SaveProjectAction->trigger();
    EXPECT_TRUE(TakeMessageText().contains(QStringLiteral("Сохранение остановлено")));
    EXPECT_TRUE(DataModule.HasChanges());
    EXPECT_TRUE(Form->SaveProjectAction->isEnabled());

    // Refresh asks about that record; "Да" keeps this workstation's comment, which then saves.
    Dialogs->Answers.push_back(QMessageBox::Yes);
    Form->RefreshProjectAction->trigger();
    EXPECT_TRUE(TakeMessageText().contains(QStringLiteral("изменена на другом рабочем месте")));
    Form->SaveProjectAction->trigger();
    EXPECT_FALSE(DataModule.HasChanges());
    EXPECT_NE(StoredState(Server, "window.fdb").find("'здесь'"), std::string::npos)
        << StoredState(Server, "window.fdb");

    // Reopened through the question: everything but the password is offered again.
    Form->CloseProjectAction->trigger();
    Form->OpenServerProjectAction->trigger();
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[1].Host, "localhost");
    EXPECT_EQ(offered[1].User, "SYSDBA");
    EXPECT_TRUE(offered[1].Password.empty());
    EXPECT_EQ(DataModule.GetRecordCount(), 3);
}

} // namespace
