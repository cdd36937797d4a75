// The process a crash-safety test kills. It prepares one save, says "ready" on stdout,
// waits for a byte on stdin, then saves and says "saved"; it never ends on its own, so
// only the test's SIGKILL stops it.
//
//   StoreCrashChild save <project>      appends, edits and deletes records, then saves
//   StoreCrashChild download <project>  reads a simulated instrument, then stores and saves
//
// One mode ends on its own, with the file size limited as a full disk would limit it:
//   StoreCrashChild save-full <project>    exits 0 when the save is refused, said in Russian,
//                                          with every change still pending
#include "device/DownloadThread.h"
#include "device/InstrumentSimulator.h"
#include "device/USB.h"
#include "store/MainDataModuleUnit.h"
#include "tests/support/ProjectFiles.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that the save takes a while, so kills land inside it.
constexpr std::uint32_t SAMPLES = 4320;
constexpr int ADDED = 12;

void Say(const char* word)
{
    std::printf("%s\n", word);
    std::fflush(stdout);
}

bool WaitForGo()
{
    char go = 0;
    return read(STDIN_FILENO, &go, 1) == 1;
}

int PrepareSave(TMainDataModule& m)
{
    auto& ds = m.ResultDataSet();
    // Edit the first row's comment, parameters and sample, delete the second, add new ones,
    // and retitle the project: every kind of history row.
    ds.First();
    m.SetMeasureComment("изменено при сохранении");
    m.SetSampleInfo({"П-17", "ЦЕМ I 42,5Н", "Завод", "12", 45000.0, 48.5, 45028.0});
    m.PostEdits();
    TMsrResult edited;
    if (m.ReadMsrResult(edited) != 0)
        return 4;
    edited.CementMass = 410;
    m.WriteMsrResult(edited);
    ds.Next();
    ds.Delete();
    m.SetProjectDescription("описание после сохранения");
    for (int i = 0; i < ADDED; ++i) {
        TMsrResult r = NumberedRecord(46000.0 + i, 100 + i, SAMPLES);
        if (m.AddMsrResult(r) != -1)
            return 4;
    }
    m.PostEdits();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    auto limitFileSize = [](rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, bytes};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0;
    };
    try {
        TMainDataModule m;
        if (!m.OpenProjectDatabase(argv[2]))
            return 3;
        if (mode == "save") {
            if (const int failed = PrepareSave(m))
                return failed;
            Say("ready");
            if (!WaitForGo())
                return 5;
            m.ApplyChanges();
        } else if (mode == "download") {
            auto simulator = std::make_shared<TInstrumentSimulator>();
            simulator->Plug(MakeRealisticInstrument(6, 7));
            if (USBInitialize(simulator) != STATUS_SUCCESS)
                return 4;
            TDownloadThread worker([](int, std::uint32_t) {});
            worker.Start();
            while (!worker.WaitFor(std::chrono::seconds(1))) { }
            if (worker.ResultCode() != 0)
                return 4;
            TArrayOfMsrResult records = worker.TakeResults();
            Say("ready");
            if (!WaitForGo())
                return 5;
            m.StoreMsrResults(records);
            m.ApplyChanges();
        } else if (mode == "save-full") {
            if (const int failed = PrepareSave(m))
                return failed;
            struct stat st
            { };
            if (stat(argv[2], &st) != 0 || !limitFileSize(static_cast<rlim_t>(st.st_size)))
                return 7;
            try {
                m.ApplyChanges();
            } catch (const TDatabaseError& e) {
                std::fprintf(stderr, "%s\n", e.what());
                const bool russian = std::string(e.what()).rfind("Недостаточно места на диске", 0) == 0;
                return russian && m.HasChanges() ? 0 : 8;
            }
            return 9;
        } else {
            return 2;
        }
        Say("saved");
        pause();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 6;
    }
    return 0;
}
