// simhost: makes and inspects simulated Windows hosts (see platform/posix/README.md).

#include "Command.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    try {
        return kv::simhost::runSimhost(std::vector<std::string>(argv + 1, argv + argc),
                                       kv::simhost::Io{std::cout, std::cerr});
    } catch (const std::exception& e) {
        std::cerr << "simhost: " << e.what() << "\n";
        return kv::simhost::ExitFailed;
    }
}
