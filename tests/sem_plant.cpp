// SPDX-License-Identifier: BSD-3-Clause
// Plants a SysV semaphore set under the key ftok(PATH, PROJ) gives, with
// VALUE and mode 0666, as a hostile local user would (run it as one):
//   sem-plant PATH PROJ VALUE
#include <sys/ipc.h>
#include <sys/sem.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sem-plant PATH PROJ VALUE\n");
        return 2;
    }
    key_t key = ftok(argv[1], std::atoi(argv[2]));
    int id = key == -1 ? -1 : semget(key, 1, IPC_CREAT | IPC_EXCL | 0666);
    if (id < 0 || semctl(id, 0, SETVAL, std::atoi(argv[3])) != 0) {
        std::perror("sem-plant");
        return 1;
    }
    std::printf("%d\n", id);
    return 0;
}
