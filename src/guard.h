#ifndef TOVRIN_FW_GUARD_H
#define TOVRIN_FW_GUARD_H

#include <csetjmp>
#include <cstddef>

// Keeps failing media and ending signals from leaving a crash or a partial
// firmware image behind.

// After catch_input_faults, a fault on a lost page of the len bytes at map
// (a read error, or the file cut short under the mapping) jumps back to
// the sigsetjmp on input_lost instead of killing the process.
extern sigjmp_buf input_lost;
void catch_input_faults(const void *map, size_t len);

// Creates path exclusively for writing, as open() does; until
// output_complete, SIGHUP, SIGINT and SIGTERM remove it before they end the
// process, and a file-size limit fails the write instead of killing.
int create_output(const char *path);
void output_complete();

#endif
