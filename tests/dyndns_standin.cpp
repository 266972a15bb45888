// SPDX-License-Identifier: BSD-3-Clause
// A stand-in for the dynamic-DNS client that records how it was started, then
// exits: its open descriptors (PREFIX.fds, in order), its blocked and ignored
// signals (PREFIX.signals), its arguments (appended to PREFIX.args) and its
// pid (PREFIX.pid), where PREFIX is $DYNDNS_STANDIN_RECORD. Compiled, unlike
// a shell script, it holds no descriptor of its own when it looks.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    const char *prefix = std::getenv("DYNDNS_STANDIN_RECORD");
    if (prefix == nullptr) return 2;
    std::vector<int> fds;
    if (DIR *listing = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(listing))
            if (e->d_name[0] != '.' && std::atoi(e->d_name) != dirfd(listing)) fds.push_back(std::atoi(e->d_name));
        closedir(listing);
    }
    std::sort(fds.begin(), fds.end());
    std::ofstream fd_record(std::string(prefix) + ".fds");
    for (int fd : fds) fd_record << fd << "\n";
    std::ifstream status("/proc/self/status");
    std::ofstream signal_record(std::string(prefix) + ".signals");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) signal_record << line << "\n";
    std::ofstream args(std::string(prefix) + ".args", std::ios::app);
    for (int i = 1; i < argc; ++i) args << (i > 1 ? " " : "") << argv[i];
    args << "\n";
    std::ofstream(std::string(prefix) + ".pid") << getpid() << "\n";
    return 0;
}
