/* bench_peak.c — runs a program and writes its peak memory (maximum resident
 * set, KiB) to a file: bench_peak OUT PROGRAM ARG...
 *
 * A child's maximum resident set counts, from its exec on, whatever the
 * process it was forked from held: the benchmark itself is far larger than
 * the programs it measures, so they are started from this small launcher.
 * Exits with the program's status (127 when it cannot be started). */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return 127;
    FILE* out = fopen(argv[1], "w");
    if (out != NULL) {
        fprintf(out, "%ld\n", usage.ru_maxrss);
        fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
