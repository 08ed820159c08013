// chromaduct-bench-run PROGRAM [ARGUMENT...]: runs the program with its
// output discarded and prints "MILLISECONDS PEAK-KILOBYTES EXIT-STATUS".
//
// The benchmark measures every process through this small one: the peak
// resident memory the system reports for a process includes what its
// parent held when it was forked, so the process that forks must be small.

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fputs("usage: chromaduct-bench-run PROGRAM [ARGUMENT...]\n", stderr);
        return 64;
    }
    timespec start{}, stop{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid < 0)
        return 71;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 71;
    clock_gettime(CLOCK_MONOTONIC, &stop);
    const double ms = double(stop.tv_sec - start.tv_sec) * 1e3 + double(stop.tv_nsec - start.tv_nsec) / 1e6;
    std::printf("%.4f %ld %d\n", ms, long(usage.ru_maxrss), WIFEXITED(status) ? WEXITSTATUS(status) : 128);
    return 0;
}
