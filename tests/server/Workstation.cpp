// The second workstation of the server tests: opens a project through a connection string
// with the given credentials and obeys line commands on standard input (see Obey), one
// answer line each on standard output. Ends on "close" or at the end of its input.
//
//   ServerWorkstation <host/port:path> <user> <password>
#include "tests/server/PrivateServer.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: ServerWorkstation CONNECTION USER PASSWORD\n");
        return 2;
    }
    TProjectTarget target = ParseProjectTarget(argv[1]);
    target.User = argv[2];
    target.Password = argv[3];
    TMainDataModule module;
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::string answer = Obey(module, target, line);
        std::cout << answer << std::endl;
        if (answer == "closed")
            break;
    }
    return 0;
}
