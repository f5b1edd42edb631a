// run_unprivileged PROGRAM [ARG...]: runs PROGRAM as the user nobody when started as root,
// as itself otherwise, so that a file without read permission cannot be read by it.
#include <grp.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: run_unprivileged PROGRAM [ARG...]\n");
        return 125;
    }
    constexpr uid_t nobody = 65534;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 ||
                           setuid(nobody) != 0 || geteuid() == 0)) {
        std::perror("run_unprivileged: cannot drop root");
        return 125;
    }
    execvp(argv[1], argv + 1);
    std::perror("run_unprivileged: cannot run the program");
    return 127;
}
