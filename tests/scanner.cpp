// scanner READY FOLDER...: an on-access scanner's shape.  Reads every file
// opened in the folders, as antivirus and integrity monitors do, until it
// is ended or five minutes (a case's bound) have passed; creates the file
// READY once it watches.
// Needs root.
#include <fcntl.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char **argv)
{
    alarm(300);
    const int iNotify = fanotify_init(FAN_CLASS_NOTIF | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
    if (iNotify < 0)
        return std::perror("fanotify_init"), 1;
    for (int i = 2; i < argc; ++i)
        if (fanotify_mark(iNotify, FAN_MARK_ADD, FAN_OPEN | FAN_EVENT_ON_CHILD, AT_FDCWD,
                          argv[i]) != 0)
            return std::perror(argv[i]), 1;
    if (argc < 3 || close(open(argv[1], O_WRONLY | O_CREAT, 0644)) != 0)
        return 1;
    static char aEvents[65536], aData[1 << 16];
    for (;;) {
        ssize_t nEvents = read(iNotify, aEvents, sizeof aEvents);
        if (nEvents <= 0)
            return 1;
        for (auto *p = reinterpret_cast<fanotify_event_metadata *>(aEvents);
             FAN_EVENT_OK(p, nEvents); p = FAN_EVENT_NEXT(p, nEvents)) {
            if (p->fd < 0)
                continue;
            while (read(p->fd, aData, sizeof aData) > 0) {
            }
            close(p->fd);
        }
    }
}
