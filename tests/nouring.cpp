// nouring COMMAND...: runs COMMAND where the kernel refuses io_uring, as a
// container whose seccomp profile denies it does: io_uring_setup fails with
// ENOSYS for COMMAND and every program it starts.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>

int main(int argc, char **argv)
{
    sock_filter aFilter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{sizeof aFilter / sizeof *aFilter, aFilter};
    // Root may filter without giving up set-user-ID programs, which some
    // cases run.
    if (argc < 2 || (geteuid() != 0 && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::perror("nouring");
        return 125;
    }
    execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    return 127;
}
