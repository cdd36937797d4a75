// Projects on a real Firebird server: this process is one workstation (an in-process
// TMainDataModule), a ServerWorkstation child process the other. Every expectation on the
// project is read back through the server by a connection of its own.
#include "tests/server/PrivateServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

namespace {

// What a project should hold after some commands of either workstation: records by number
// with their comments, and the description. A comment on a record not held brings it back,
// as keeping one's own change of a record deleted elsewhere does.
struct TModel
{
    std::map<int, std::string> Comments;
    std::string Description;

    TModel Apply(const std::vector<std::string>& commands) const
    {
        TModel next = *this;
        for (const std::string& command : commands) {
            std::istringstream in(command);
            std::string word;
            int number = 0, records = 1;
            in >> word;
            if (word == "description") {
                std::getline(in >> std::ws, next.Description);
                continue;
            }
            in >> number;
            if (word == "comment")
                std::getline(in >> std::ws, next.Comments[number]);
            else if (word == "delete")
                next.Comments.erase(number);
            else if (word == "append" || (word == "download" && in >> records))
                for (int n = number; n < number + records; ++n)
                    next.Comments.emplace(n, "");
        }
        return next;
    }
    std::string Text() const
    {
        std::string text;
        for (const auto& [number, comment] : Comments)
            text += std::to_string(number) + ":'" + comment + "' ";
        return text + "| '" + Description + "'";
    }
};

bool Failed(const std::string& answer)
{
    for (const char* bad : {"error", "missing", "unknown", "conflict", "timeout", "gone"})
        if (answer.rfind(bad, 0) == 0)
            return true;
    return false;
}

void Do(TMainDataModule& module, const TProjectTarget& target, const std::vector<std::string>& commands)
{
    for (const std::string& command : commands) {
        const std::string answer = Obey(module, target, command);
        EXPECT_FALSE(Failed(answer)) << command << ": " << answer;
    }
}

void Tell(TWorkstationProcess& other, const std::vector<std::string>& commands)
{
    for (const std::string& command : commands) {
        const std::string answer = other.Ask(command);
        EXPECT_FALSE(Failed(answer)) << "other workstation, " << command << ": " << answer;
    }
}

// Saves, and says what the engine said when that failed.
void Save(TMainDataModule& module)
{
    try {
        module.ApplyChanges();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "the save failed: " << error.what();
    }
}

const std::vector<std::string> kProjectAtStart{
    "download 1 3", "comment 1 c1", "comment 2 c2", "comment 3 c3", "description d0"};

class ServerProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        try {
            m_server = std::make_unique<TPrivateServer>();
        } catch (const std::exception& error) {
            GTEST_FAIL() << error.what();
        }
    }

    TPrivateServer& Server() { return *m_server; }

    // Three records with comments and a description, as both workstations find the project.
    // Made once through the server and copied while no one has it open: creating a project
    // costs far more than a case.
    TModel MakeProject(const std::string& name)
    {
        const std::string original = "original.fdb";
        if (!std::filesystem::exists(Server().DatabasePath(original))) {
            TMainDataModule m;
            EXPECT_TRUE(m.CreateProjectDatabase(Server().Target(original))) << m.LastError();
            EXPECT_TRUE(m.OpenProjectDatabase(Server().Target(original))) << m.LastError();
            Do(m, Server().Target(original), kProjectAtStart);
            Save(m);
        }
        std::filesystem::copy_file(Server().DatabasePath(original), Server().DatabasePath(name));
        return TModel{}.Apply(kProjectAtStart);
    }

    std::unique_ptr<TPrivateServer> m_server;
};

const auto kNoConflictExpected = [](const TRowConflict&) {
    ADD_FAILURE() << "a refresh found a conflict where there is none";
    return true;
};

TEST_F(ServerProjectTest, ProjectCreatedSavedAndReopenedKeepsEveryByte)
{
    TTempDir local;
    TProjectTarget parsed = ParseProjectTarget(Server().ConnectionString("parsed.fdb"));
    parsed.User = "SYSDBA";
    parsed.Password = Server().Password();
    const struct
    {
        const char* Name;
        TProjectTarget Target;
        std::string File;
    } cases[] = {
        {"server", Server().Target("a.fdb"), Server().DatabasePath("a.fdb")},
        {"server by its connection string", parsed, Server().DatabasePath("parsed.fdb")},
        {"local file, embedded engine", LocalProject(local.File("local.fdb")), local.File("local.fdb")},
    };
    const std::vector<std::string> work{
        "download 1 2 4320", "download 3 2", "comment 2 проба ёЁ №", "description описание 'в кавычках'"};
    const std::string expected = TModel{}.Apply(work).Text();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        {
            TMainDataModule m;
            ASSERT_TRUE(m.CreateProjectDatabase(c.Target)) << m.LastError();
            EXPECT_TRUE(std::filesystem::exists(c.File));
            EXPECT_FALSE(m.CreateProjectDatabase(c.Target)) << "made anew over an existing project";
            ASSERT_TRUE(m.OpenProjectDatabase(c.Target)) << m.LastError();
            EXPECT_EQ(m.Target().IsServer(), c.Target.IsServer());
            Do(m, c.Target, work);
            Save(m);
            EXPECT_FALSE(m.HasChanges());
            m.CloseProjectDatabase();
        }
        TMainDataModule reopened;
        ASSERT_TRUE(reopened.OpenProjectDatabase(c.Target)) << reopened.LastError();
        EXPECT_EQ(ModuleState(reopened), expected);
        EXPECT_EQ(reopened.StoredRecordCount(), 4);
        reopened.CloseProjectDatabase();
        if (!c.Target.IsServer())
            continue;
        EXPECT_EQ(StoredState(Server(), std::filesystem::path(c.File).filename()), expected);
        TProjectTarget wrong = c.Target;
        wrong.Password = "not-the-password";
        TMainDataModule refused;
        EXPECT_FALSE(refused.OpenProjectDatabase(wrong));
        EXPECT_FALSE(refused.LastError().empty());
        EXPECT_FALSE(refused.IsProjectOpen());
    }
}

TEST_F(ServerProjectTest, ChangesOfDifferentRowsOnTwoWorkstationsBothReachTheFile)
{
    const struct
    {
        const char* Name;
        std::vector<std::string> Theirs, Mine; // theirs are saved first
    } cases[] = {
        {"comments of different records", {"comment 1 theirs"}, {"comment 3 mine"}},
        {"one appends, the other comments", {"append 7"}, {"comment 2 mine"}},
        {"one comments, the other appends", {"comment 2 theirs"}, {"append 8 4320"}},
        {"one deletes, the other comments and describes", {"delete 1"},
            {"comment 3 mine", "description mine"}},
        {"both append different records", {"append 7"}, {"append 8", "comment 2 mine"}},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = "case" + std::to_string(index++) + ".fdb";
        const TModel start = MakeProject(name);
        const std::string expected = start.Apply(c.Theirs).Apply(c.Mine).Text();
        ASSERT_EQ(expected, start.Apply(c.Mine).Apply(c.Theirs).Text()) << "the case is a conflict";
        const TProjectTarget target = Server().Target(name);
        TMainDataModule m;
        ASSERT_TRUE(m.OpenProjectDatabase(target)) << m.LastError();
        TWorkstationProcess other(SERVER_WORKSTATION, target);
        ASSERT_EQ(other.Ask("open"), "opened");

        Tell(other, c.Theirs);
        EXPECT_EQ(other.Ask("save"), "saved");
        Do(m, target, c.Mine);
        Save(m);
        EXPECT_FALSE(m.HasChanges());

        EXPECT_EQ(StoredState(Server(), name), expected);
        m.RefreshProject(kNoConflictExpected);
        EXPECT_EQ(ModuleState(m), expected);
        EXPECT_EQ(other.Ask("refresh theirs").rfind("refreshed", 0), 0u);
        EXPECT_EQ(other.Ask("state"), expected);
    }
}

TEST_F(ServerProjectTest, SameRowsChangedOnTwoWorkstationsStopTheSecondSaveUntilARefreshDecides)
{
    const struct
    {
        const char* Name;
        std::vector<std::string> Theirs, Mine; // theirs are saved first
        std::vector<std::string> Named;        // what the conflict names
    } cases[] = {
        {"both comment one record", {"comment 2 theirs"}, {"comment 2 mine", "comment 1 mine", "append 9"},
            {"запись № 2 от 17.03.2023 00:00"}},
        {"deleted here, changed there", {"comment 2 theirs"}, {"delete 2", "comment 3 mine"},
            {"запись № 2 от 17.03.2023 00:00"}},
        {"changed here, deleted there", {"delete 2"}, {"comment 2 mine", "append 9"},
            {"запись № 2 от 17.03.2023 00:00"}},
        {"two records at once", {"comment 1 theirs", "delete 3"}, {"comment 1 mine", "comment 3 mine"},
            {"запись № 1 от 16.03.2023 00:00", "запись № 3 от 18.03.2023 00:00"}},
        {"both describe the project", {"description theirs"}, {"description mine", "comment 1 mine"},
            {"описание проекта"}},
    };
    int index = 0;
    for (const auto& c : cases) {
        for (const bool keepMine : {true, false}) {
            SCOPED_TRACE(std::string(c.Name) + (keepMine ? ", keeping mine" : ", taking theirs"));
            const std::string name = "case" + std::to_string(index++) + ".fdb";
            const TModel start = MakeProject(name);
            const TProjectTarget target = Server().Target(name);
            TMainDataModule m;
            ASSERT_TRUE(m.OpenProjectDatabase(target)) << m.LastError();
            TWorkstationProcess other(SERVER_WORKSTATION, target);
            ASSERT_EQ(other.Ask("open"), "opened");
            Tell(other, c.Theirs);
            ASSERT_EQ(other.Ask("save"), "saved");
            const std::string theirs = start.Apply(c.Theirs).Text();

            Do(m, target, c.Mine);
            const std::string mine = start.Apply(c.Mine).Text();
            for (int attempt = 0; attempt < 2; ++attempt) {
                try {
                    m.ApplyChanges();
                    ADD_FAILURE() << "saved over the other workstation's change";
                } catch (const TSaveConflictError& conflict) {
                    std::vector<std::string> named;
                    for (const std::string& record : conflict.Records())
                        named.push_back(record.substr(0, record.find(" (")));
                    EXPECT_EQ(named, c.Named);
                    EXPECT_NE(std::string(conflict.what()).find("Сохранение остановлено"), std::string::npos);
                } catch (const std::exception& error) {
                    ADD_FAILURE() << "not a conflict: " << error.what();
                }
                EXPECT_EQ(StoredState(Server(), name), theirs) << "a stopped save wrote something";
                EXPECT_TRUE(m.HasChanges());
                EXPECT_EQ(ModuleState(m), mine) << "a stopped save lost a change";
            }

            int asked = 0;
            m.RefreshProject([&](const TRowConflict&) {
                ++asked;
                return keepMine;
            });
            EXPECT_EQ(asked, static_cast<int>(c.Named.size()));
            Save(m);
            EXPECT_FALSE(m.HasChanges());
            const std::string expected = keepMine ? start.Apply(c.Theirs).Apply(c.Mine).Text()
                                                  : start.Apply(c.Mine).Apply(c.Theirs).Text();
            EXPECT_EQ(StoredState(Server(), name), expected);
            EXPECT_EQ(ModuleState(m), expected);
            EXPECT_EQ(other.Ask("refresh theirs").rfind("refreshed", 0), 0u);
            EXPECT_EQ(other.Ask("state"), expected);
        }
    }
}

TEST_F(ServerProjectTest, OneDownloadOnTwoWorkstationsStoresEachMeasurementOnce)
{
    const struct
    {
        const char* Name;
        const char *Theirs, *Mine;
        bool AtOnce;
    } cases[] = {
        {"one after the other", "download 10 20", "download 10 20", false},
        {"at once", "download 10 20 4320", "download 10 20 4320", true},
        {"at once, overlapping", "download 10 20 4320", "download 20 20 4320", true},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = "case" + std::to_string(index++) + ".fdb";
        const TModel start = MakeProject(name);
        const std::string expected = start.Apply({c.Theirs, c.Mine}).Text();
        const TProjectTarget target = Server().Target(name);
        TMainDataModule m;
        ASSERT_TRUE(m.OpenProjectDatabase(target)) << m.LastError();
        TWorkstationProcess other(SERVER_WORKSTATION, target);
        ASSERT_EQ(other.Ask("open"), "opened");
        Tell(other, {c.Theirs});
        Do(m, target, {c.Mine});

        if (c.AtOnce) {
            other.Send("save");
            Save(m);
            EXPECT_EQ(other.Answer(), "saved");
        } else {
            EXPECT_EQ(other.Ask("save"), "saved");
            Save(m);
        }
        EXPECT_FALSE(m.HasChanges());
        EXPECT_EQ(StoredState(Server(), name), expected);
        m.RefreshProject(kNoConflictExpected);
        EXPECT_EQ(ModuleState(m), expected);
        EXPECT_EQ(other.Ask("refresh theirs").rfind("refreshed", 0), 0u);
        EXPECT_EQ(other.Ask("state"), expected);
    }
}

// Rows inserted by every attachment but the asking one, as the server counts them now.
std::int64_t InsertsOfOthers(const TPrivateServer& server, const std::string& name)
{
    const TRows rows = ServerQuery(server, name,
        "SELECT COALESCE(SUM(R.MON$RECORD_INSERTS), 0) FROM MON$ATTACHMENTS A "
        "JOIN MON$RECORD_STATS R ON R.MON$STAT_ID = A.MON$STAT_ID "
        "WHERE A.MON$ATTACHMENT_ID <> CURRENT_CONNECTION");
    const auto* n = rows.empty() ? nullptr : std::get_if<std::int64_t>(&rows[0][0]);
    return n ? *n : -1;
}

TEST_F(ServerProjectTest, ServerKilledDuringASaveLosesNothingAndStoresNothingTwice)
{
    constexpr int kAdded = 24; // of 4320 samples: the save takes a second or two
    const struct
    {
        const char* Name;
        int KillAfterInserts; // -1: while another connection holds the project row
    } cases[] = {
        {"waiting for the project row", -1},
        {"after the first new record", 1},
        {"half-way through the new records", kAdded / 2},
    };
    const std::vector<std::string> work{"comment 1 после перезапуска", "delete 2",
        "description после перезапуска", "download 100 " + std::to_string(kAdded) + " 4320"};
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string name = "case" + std::to_string(index++) + ".fdb";
        const std::string expected = MakeProject(name).Apply(work).Text();
        const TProjectTarget target = Server().Target(name);
        TMainDataModule m;
        ASSERT_TRUE(m.OpenProjectDatabase(target)) << m.LastError();
        Do(m, target, work);

        TConnection holder;
        if (c.KillAfterInserts < 0) {
            holder.Attach(Server().ConnectionString(name), "SYSDBA", Server().Password(), "ASCII");
            auto lock = holder.Prepare("SELECT SYSTEM_TABLE_PK FROM SYSTEM_TABLE WITH LOCK");
            lock->Open();
            while (lock->Fetch()) { }
            lock->CloseCursor();
        }
        const std::int64_t before = InsertsOfOthers(Server(), name);
        std::string error;
        bool lost = false;
        std::atomic<bool> ended = false;
        std::thread save([&] {
            try {
                m.ApplyChanges();
            } catch (const TDatabaseError& e) {
                error = e.what();
                lost = e.ConnectionLost();
            }
            ended = true;
        });
        if (c.KillAfterInserts < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        else
            while (!ended && InsertsOfOthers(Server(), name) < before + c.KillAfterInserts) { }
        const bool endedBeforeKill = ended;
        Server().Kill();
        save.join();
        holder.Abandon();

        ASSERT_FALSE(endedBeforeKill) << "the save ended before the server was killed: " << error;
        EXPECT_TRUE(lost) << error;
        EXPECT_NE(error.find("Связь с базой данных проекта прервана"), std::string::npos) << error;
        EXPECT_TRUE(m.HasChanges());
        EXPECT_EQ(m.GetRecordCount(), kAdded + 2);

        Server().Restart();
        Save(m);
        EXPECT_FALSE(m.HasChanges());
        EXPECT_EQ(StoredState(Server(), name), expected);
        EXPECT_EQ(ModuleState(m), expected);
    }
}

TEST_F(ServerProjectTest, SameRecordSavedAtOnceOnTwoWorkstationsIsNeverOverwrittenSilently)
{
    const TModel start = MakeProject("a.fdb");
    const TProjectTarget target = Server().Target("a.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(target)) << m.LastError();
    TWorkstationProcess other(SERVER_WORKSTATION, target);
    ASSERT_EQ(other.Ask("open"), "opened");
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string theirs = "comment 2 theirs " + std::to_string(round);
        const std::string mine = "comment 2 mine " + std::to_string(round);
        Tell(other, {theirs});
        Do(m, target, {mine});
        other.Send("save");
        std::string refused;
        try {
            m.ApplyChanges();
        } catch (const TSaveConflictError& error) {
            refused = error.what();
        } catch (const TDatabaseError& error) {
            EXPECT_TRUE(error.LockConflict()) << error.what();
            refused = error.what();
        }
        const std::string answer = other.Answer();
        const bool mineSaved = refused.empty();
        const bool theirsSaved = answer == "saved";
        EXPECT_NE(mineSaved, theirsSaved)
            << "mine: " << (mineSaved ? "saved" : refused) << ", theirs: " << answer;
        EXPECT_EQ(StoredState(Server(), "a.fdb"), start.Apply({mineSaved ? mine : theirs}).Text());
        EXPECT_EQ(m.HasChanges(), !mineSaved);
        // The one refused takes the other's comment, and both go on from the same file.
        if (mineSaved)
            EXPECT_EQ(other.Ask("refresh theirs").rfind("refreshed", 0), 0u);
        else
            m.RefreshProject([](const TRowConflict&) { return false; });
        EXPECT_FALSE(m.HasChanges());
    }
}

// Calls f; when it fails on a lost connection, calls it once more.
template <typename F> void AfterALostConnection(F&& f)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            f();
            return;
        } catch (const TDatabaseError& error) {
            if (!error.ConnectionLost() || attempt > 0) {
                ADD_FAILURE() << error.what();
                return;
            }
        }
    }
}

TEST_F(ServerProjectTest, ServerRestartedWhileIdleTheNextSaveAndRefreshAttachAnew)
{
    const TModel start = MakeProject("a.fdb");
    const TProjectTarget target = Server().Target("a.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(target)) << m.LastError();

    Server().Restart();
    Do(m, target, {"comment 1 после перезапуска"});
    try {
        m.ApplyChanges();
    } catch (const TDatabaseError& error) {
        ADD_FAILURE() << "the first save after a restart: " << error.what();
        AfterALostConnection([&] { m.ApplyChanges(); });
    }
    const std::string saved = start.Apply({"comment 1 после перезапуска"}).Text();
    EXPECT_EQ(StoredState(Server(), "a.fdb"), saved);

    Server().Restart();
    try {
        m.RefreshProject(kNoConflictExpected);
    } catch (const TDatabaseError& error) {
        ADD_FAILURE() << "the first refresh after a restart: " << error.what();
        AfterALostConnection([&] { m.RefreshProject(kNoConflictExpected); });
    }
    EXPECT_EQ(ModuleState(m), saved);
}

// The save that keeps the record runs on a connection attached anew, as after any lost one.
TEST_F(ServerProjectTest, RecordKeptAfterAnotherWorkstationDeletedItKeepsItsMeasurementAcrossARestart)
{
    const TModel start = MakeProject("a.fdb");
    const TProjectTarget target = Server().Target("a.fdb");
    TMainDataModule m;
    ASSERT_TRUE(m.OpenProjectDatabase(target)) << m.LastError();
    Do(m, target, {"comment 2 mine"});
    {
        TWorkstationProcess other(SERVER_WORKSTATION, target);
        ASSERT_EQ(other.Ask("open"), "opened");
        Tell(other, {"delete 2"});
        ASSERT_EQ(other.Ask("save"), "saved");
    }
    Server().Restart();
    AfterALostConnection([&] { m.RefreshProject([](const TRowConflict&) { return true; }); });
    Do(m, target, {"append 9"});
    Save(m);
    const std::string expected = start.Apply({"delete 2", "comment 2 mine", "append 9"}).Text();
    EXPECT_EQ(StoredState(Server(), "a.fdb"), expected);
    EXPECT_EQ(ModuleState(m), expected);
}

} // namespace

TEST_F(ServerProjectTest, HistoryMadeByOneUserIsReadAndWrittenByTheOthers)
{
    const std::string name = "users.fdb";
    {
        TMainDataModule m;
        ASSERT_TRUE(m.CreateProjectDatabase(Server().Target(name))) << m.LastError();
        ASSERT_TRUE(m.OpenProjectDatabase(Server().Target(name))) << m.LastError();
        Do(m, Server().Target(name), {"download 1 2"});
        Save(m);
    }
    // The administrator's part, as the README says: users, and their rights on the project.
    {
        // The user manager keeps its work to a real commit, which a detach makes.
        for (const char* user : {"ANNA", "BORIS"}) {
            TConnection admin;
            admin.Attach(Server().ConnectionString(name), "SYSDBA", Server().Password(), "ASCII");
            admin.ExecuteImmediate(std::string("CREATE USER ") + user + " PASSWORD 'pw'");
            admin.Detach();
        }
        TConnection admin;
        admin.Attach(Server().ConnectionString(name), "SYSDBA", Server().Password(), "ASCII");
        for (const char* user : {"ANNA", "BORIS"})
            for (const char* grant :
                {"GRANT ALL ON MEASURE_RESULT_TABLE TO ", "GRANT ALL ON SYSTEM_TABLE TO ",
                    "GRANT USAGE ON GENERATOR MEASURE_RESULT_TABLE_GEN TO "})
                admin.ExecuteImmediate(grant + std::string(user));
        admin.Detach();
    }
    auto as = [&](const char* user) {
        TProjectTarget target = Server().Target(name);
        target.User = user;
        target.Password = "pw";
        return target;
    };
    {
        // Only the owner may add the tables: Boris is told so and keeps his change, until the
        // owner has added them (with Boris's and Anna's rights on them).
        TMainDataModule boris;
        ASSERT_TRUE(boris.OpenProjectDatabase(as("BORIS"))) << boris.LastError();
        Do(boris, as("BORIS"), {"comment 1 от Бориса"});
        try {
            boris.ApplyChanges();
            ADD_FAILURE() << "a save that needs tables Boris may not make";
        } catch (const TDatabaseError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("Изменения не сохранены и остаются в программе", 0), 0u)
                << error.what();
        }
        EXPECT_TRUE(boris.HasChanges());
        TMainDataModule owner;
        ASSERT_TRUE(
            owner.OpenProjectDatabase(Server().Target(name), TMainDataModule::TOpenMode::ProjectRowOnly));
        ProjectExtensions::Create(owner.Connection());
        owner.CloseProjectDatabase();
        Save(boris);
    }
    TMainDataModule anna;
    ASSERT_TRUE(anna.OpenProjectDatabase(as("ANNA"))) << anna.LastError();
    const std::vector<THistoryEntry> history = anna.ReadHistory(std::nullopt);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].NewValue, "от Бориса");
    anna.ResultDataSet().SetRecNo(2);
    anna.SetSampleInfo({"A-2", "", "", "", std::nullopt, 45.5, std::nullopt});
    anna.PostEdits();
    Save(anna);
    EXPECT_EQ(anna.ReadHistory(std::nullopt).size(), 3u);
    EXPECT_EQ(anna.SampleInfoAt(1).Strength, 45.5);
}
