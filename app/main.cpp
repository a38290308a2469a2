#include "core/AgentStatusSnapshot.hpp"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace brindleaf;
    if (argc == 2 && std::strcmp(argv[1], "--dump-status") == 0) {
        auto snapshot = AgentStatusSnapshot::make({}, currentDate());
        std::printf("%s\nactive=%zu\n", std::string(toString(snapshot.state)).c_str(), snapshot.activeSessions.size());
        std::fflush(stdout);
        _exit(0);
    }
    std::fprintf(stderr, "usage: brindleaf --dump-status\n");
    return 1;
}
