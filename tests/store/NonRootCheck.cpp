// Runs the store as whichever user starts it, with no lock directory chosen for it:
// the embedded engine must work for a normal user, not only for root.
#include "store/MainDataModuleUnit.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

int main()
{
    if (std::getenv("FIREBIRD_LOCK")) {
        std::fprintf(stderr, "FIREBIRD_LOCK is set; this check needs it unset\n");
        return 2;
    }
    char pattern[] = "/tmp/cement-lab-nonroot-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string path = std::string(pattern) + "/проект.fdb";
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
        failures += ok ? 0 : 1;
    };
    std::printf("uid %d\n", static_cast<int>(getuid()));
    try {
        TMainDataModule m;
        check(m.CreateProjectDatabase(path), "create");
        check(m.OpenProjectDatabase(path), "open");
        TMsrResult r;
        r.BeginDateTime = 45000.5;
        r.MeasureNumber = 1;
        r.Duration = 30;
        r.Period = 10;
        r.Data.assign(4, TSampleArray(3, 1.0f));
        check(m.AddMsrResult(r) == -1, "append");
        m.ApplyChanges();
        m.CloseProjectDatabase();
        check(m.OpenProjectDatabase(path) && m.GetRecordCount() == 1, "reopen with the saved record");
        m.CloseProjectDatabase();
        const char* lock = std::getenv("FIREBIRD_LOCK");
        check(lock && access(lock, W_OK) == 0, "a lock directory of this user's own");
    } catch (const std::exception& e) {
        std::printf("FAILED: %s\n", e.what());
        ++failures;
    }
    std::error_code ec;
    std::filesystem::remove_all(pattern, ec);
    return failures == 0 ? 0 : 1;
}
