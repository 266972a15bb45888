// SPDX-License-Identifier: BSD-3-Clause
// System-wide locks shared by the daemons of all ports. SEM_UNDO gives a
// holder's hold back when it dies, and the wait is bounded so a stuck peer
// never hangs a daemon. Anyone can create the key file or a semaphore set
// under the key it yields (ftok keeps only part of the inode number), so
// neither is used unless it is ours: a planted one is replaced.
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "base/file_trust.h"
#include "platform/device.h"

namespace {

constexpr time_t kWaitSeconds = 5;
constexpr long kNanosecondsPerSecond = 1000000000L;
constexpr mode_t kKeyFileMode = 0600;
constexpr int kSemPermissions = 0600;
// A planted set removed this often and still coming back is an attack in
// progress: the merge is skipped rather than run unlocked.
constexpr int kSetAttempts = 4;
constexpr int kKeyFileAttempts = 2;
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

// Returns true when `path` is a key file we can trust, making one when there
// is none and replacing one that is not ours (logged).
bool trusted_key_file(const char *path) {
    for (int attempt = 0; attempt < kKeyFileAttempts; ++attempt) {
        int fd = open(path, kOpenFlags);
        if (fd < 0 && errno == ENOENT) {
            fd = open(path, kOpenFlags | O_CREAT | O_EXCL, kKeyFileMode);
            if (fd < 0 && errno == EEXIST) continue;  // another daemon made it first
        }
        if (fd >= 0) {
            struct stat st {};
            bool trusted = base::check_open_file(fd, {base::file_owner::root_or_us, base::kNoWriteForOthers}, st) ==
                           base::file_verdict::trusted;
            close(fd);
            if (trusted) return true;
            syslog(LOG_WARNING, "get_semaphore(): %s is not a private regular file of ours (uid %u, mode %o); "
                                "replacing it", path, static_cast<unsigned>(st.st_uid),
                   static_cast<unsigned>(st.st_mode));
        } else {
            syslog(LOG_WARNING, "get_semaphore(): cannot open %s (%m); replacing it", path);
        }
        if (unlink(path) != 0 && errno != ENOENT) {
            syslog(LOG_ERR, "get_semaphore(): cannot remove the untrusted %s: %m", path);
            return false;
        }
    }
    syslog(LOG_ERR, "get_semaphore(): no trusted key file at %s", path);
    return false;
}

// Returns true when the set was created and is owned by us and no group or
// other may change it.
bool trusted_set(int id) {
    semid_ds info{};
    if (semctl(id, 0, IPC_STAT, &info) != 0) return false;
    return base::owned_by_us(info.sem_perm.cuid) && base::owned_by_us(info.sem_perm.uid) &&
           (info.sem_perm.mode & base::kNoWriteForOthers) == 0;
}

}  // namespace

int get_semaphore(int key, const char *path) {
    if (path == nullptr || !trusted_key_file(path)) return -1;
    key_t ipc_key = ftok(path, key);
    if (ipc_key == -1) {
        syslog(LOG_ERR, "get_semaphore(): ftok(%s, %d): %m", path, key);
        return -1;
    }
    for (int attempt = 0; attempt < kSetAttempts; ++attempt) {
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
        if (id < 0) {
            if (errno == ENOENT) continue;  // removed meanwhile: make our own
            syslog(LOG_ERR, "get_semaphore(): semget: %m");
            return -1;
        }
        if (trusted_set(id)) return id;
        syslog(LOG_WARNING, "get_semaphore(): semaphore set %d under key %#x was not made by us; removing it",
               id, static_cast<unsigned>(ipc_key));
        if (semctl(id, 0, IPC_RMID) != 0) {
            syslog(LOG_ERR, "get_semaphore(): cannot remove the untrusted semaphore set %d: %m", id);
            return -1;
        }
    }
    syslog(LOG_ERR, "get_semaphore(): untrusted semaphore sets keep appearing under key %#x; giving up",
           static_cast<unsigned>(ipc_key));
    return -1;
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
            left.tv_nsec += kNanosecondsPerSecond;
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
