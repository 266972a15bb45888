// SPDX-License-Identifier: BSD-3-Clause
// System-wide locks shared by the daemons of all ports. SEM_UNDO gives a
// holder's hold back when it dies, and the wait is bounded so a stuck peer
// never hangs a daemon.
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <syslog.h>
#include <unistd.h>

#include "platform/device.h"

namespace {
constexpr time_t kWaitSeconds = 5;
constexpr mode_t kKeyFileMode = 0600;
constexpr int kSemPermissions = 0600;
}  // namespace

int get_semaphore(int key, const char *path) {
    if (path == nullptr) return -1;
    int fd = open(path, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kKeyFileMode);
    if (fd >= 0) close(fd);
    key_t ipc_key = ftok(path, key);
    if (ipc_key == -1) {
        syslog(LOG_ERR, "get_semaphore(): ftok(%s, %d): %m", path, key);
        return -1;
    }
    int id = semget(ipc_key, 1, IPC_CREAT | IPC_EXCL | kSemPermissions);
    if (id >= 0) {
        if (semctl(id, 0, SETVAL, 1) == 0) return id;
        syslog(LOG_ERR, "get_semaphore(): cannot set initial value: %m");
        return -1;
    }
    if (errno != EEXIST) {
        syslog(LOG_ERR, "get_semaphore(): semget: %m");
        return -1;
    }
    id = semget(ipc_key, 1, 0);
    if (id < 0) syslog(LOG_ERR, "get_semaphore(): semget: %m");
    return id;
}

int wait_semaphore(int id) {
    sembuf take{0, -1, SEM_UNDO};
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += kWaitSeconds;
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0) {
            left.tv_nsec += 1000000000L;
            left.tv_sec -= 1;
        }
        if (left.tv_sec < 0) left = {0, 0};
        if (semtimedop(id, &take, 1, &left) == 0) return 0;
        if (errno == EINTR) continue;
        syslog(LOG_ERR, "wait_semaphore(): %m");
        return -1;
    }
}

int release_semaphore(int id) {
    sembuf give{0, 1, SEM_UNDO};
    return semop(id, &give, 1) == 0 ? 0 : -1;
}
