// nosigio COMMAND...: runs COMMAND traced, and never lets SIGIO reach it, as
// a debugger told to pass that signal by does: a lease's break then shows
// only to a program that asks the kernel.
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    const pid_t pid = argc < 2 ? -1 : fork();
    if (pid == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }
    for (int iStatus; pid > 0 && waitpid(pid, &iStatus, 0) == pid;) {
        if (WIFEXITED(iStatus))
            return WEXITSTATUS(iStatus);
        if (WIFSIGNALED(iStatus))
            return 128 + WTERMSIG(iStatus);
        // The stop at the exec, and each signal on its way in.
        const int iSignal = WSTOPSIG(iStatus);
        ptrace(PTRACE_CONT, pid, nullptr, iSignal == SIGIO || iSignal == SIGTRAP ? 0 : iSignal);
    }
    return 125;
}
