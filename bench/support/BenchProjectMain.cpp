// Prints the paths of the bench projects, writing any that is missing or stale.
//   build-e/bench/BenchProject [RECORDS ...]      (default: 25000 1000)
#include "bench/support/BenchProject.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc == 1) {
        std::printf("%s\n%s\n", BenchProject(kLargeProjectRecords).c_str(),
            BenchProject(kReportProjectRecords).c_str());
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const int records = std::atoi(argv[i]);
        if (records <= 0) {
            std::fprintf(stderr, "not a record count: %s\n", argv[i]);
            return 2;
        }
        std::printf("%s\n", BenchProject(records).c_str());
    }
    return 0;
}
