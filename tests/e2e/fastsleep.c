/* Test shim for the flash end-to-end runs (LD_PRELOAD): every nanosleep and clock_nanosleep of the
 * process returns at once and adds the time asked for to a counter (printed to standard error at
 * exit when TAL_FASTSLEEP_REPORT is set), so that a run with the procedures' fixed waits (two
 * seconds per lock and unlock, five seconds per erase, a millisecond per CPLD page) takes
 * moments. The monotonic clocks run ahead by the time slept, so the simulated devices, which
 * keep time by that clock, see each wait as taken. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define SHIM_API __attribute__((visibility("default")))

static unsigned long long asked_ns;

static void add(const struct timespec *t) {
  if (t) asked_ns += (unsigned long long)t->tv_sec * 1000000000ull + (unsigned long long)t->tv_nsec;
}

SHIM_API int nanosleep(const struct timespec *req, struct timespec *rem) {
  add(req);
  if (rem) rem->tv_sec = rem->tv_nsec = 0;
  return 0;
}

SHIM_API int clock_nanosleep(clockid_t clock, int flags, const struct timespec *req,
                             struct timespec *rem) {
  (void)clock;
  if (!(flags & TIMER_ABSTIME)) add(req);
  if (rem) rem->tv_sec = rem->tv_nsec = 0;
  return 0;
}

SHIM_API int clock_gettime(clockid_t clock, struct timespec *t) {
  typedef int (*real_fn)(clockid_t, struct timespec *);
  static real_fn real;
  if (!real) real = (real_fn)dlsym(RTLD_NEXT, "clock_gettime");
  if (!real) return -1;
  int rc = real(clock, t);
  if (rc == 0 && (clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW ||
                  clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_BOOTTIME)) {
    unsigned long long ns = (unsigned long long)t->tv_nsec + asked_ns % 1000000000ull;
    t->tv_sec += (time_t)(asked_ns / 1000000000ull + ns / 1000000000ull);
    t->tv_nsec = (long)(ns % 1000000000ull);
  }
  return rc;
}

__attribute__((destructor)) static void report(void) {
  const char *path = getenv("TAL_FASTSLEEP_REPORT");
  if (!path || !*path) return;
  FILE *f = fopen(path, "a");
  if (!f) return;
  fprintf(f, "%llu\n", asked_ns / 1000000ull);
  fclose(f);
}
