/* floor FILE...: the durable steps morvane takes for each file, and nothing
 * else (no watch, no checks, no messages): rename to FILE.unix where nothing
 * is, create FILE, copy with every LF made CR, force the data and then the
 * folder entry to storage, delete FILE.unix.  The cost per file that no
 * careful converter can go below; bench/compare.py times morvane against it. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    static char buffer[1 << 20], backup[4096];
    const int folder = open(".", O_RDONLY | O_DIRECTORY);
    for (int i = 1; i < argc; ++i) {
        snprintf(backup, sizeof backup, "%s.unix", argv[i]);
        if (renameat2(folder, argv[i], folder, backup, RENAME_NOREPLACE) != 0)
            return perror(argv[i]), 1;
        const int in = openat(folder, backup, O_RDONLY);
        const int out = openat(folder, argv[i], O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (in < 0 || out < 0)
            return perror(argv[i]), 1;
        for (ssize_t n; (n = read(in, buffer, sizeof buffer)) > 0;) {
            for (ssize_t j = 0; j < n; ++j)
                buffer[j] = buffer[j] == '\n' ? '\r' : buffer[j];
            if (write(out, buffer, (size_t)n) != n)
                return perror(argv[i]), 1;
        }
        if (fdatasync(out) != 0 || fsync(folder) != 0 || close(out) != 0 || close(in) != 0 ||
            unlinkat(folder, backup, 0) != 0)
            return perror(argv[i]), 1;
    }
    return 0;
}
