/* measure COMMAND [ARG...]: runs COMMAND with its output discarded and
 * prints "<wall seconds> <peak resident KiB>" of that one run on standard
 * output; exits with COMMAND's status. A small process of its own, so that the
 * peak memory it reports is the command's, not the caller's (a child
 * inherits its parent's high-water mark across fork and exec). */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: measure COMMAND [ARG...]\n");
    return 125;
  }
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child < 0) {
    perror("measure: fork");
    return 125;
  }
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) < 0) {
    perror("measure: wait4");
    return 125;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("%.6f %ld\n", (double)(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 125;
}
