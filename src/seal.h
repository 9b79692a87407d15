#ifndef TOVRIN_FW_SEAL_H
#define TOVRIN_FW_SEAL_H

// The reader: a child that reads what root opened, and nothing else.

#include <cstddef>
#include <sys/types.h>

// Starts the child in namespaces of its own (process, mount, network,
// IPC; a user namespace where the caller is not root), as fork() does:
// 0 in the child, its pid in the parent, -1 with errno on failure.
pid_t spawn_reader(bool root);

// Once the reader has ended: removes what its seal made outside it.
void reader_ended();

// Seals the child before it reads a byte: every descriptor closed but
// those in keep; under root an id of its own and no groups; no
// capabilities, no new privileges, not dumpable, an empty root, limits
// on processes, files, memory and CPU time, and a filter that allows
// reading, and writing to out alone.  Returns null, or what failed.  As
// a user, what the kernel refuses is passed over; under root, it is not.
const char *seal(bool root, const int *keep, size_t nkeep, int out);

// The reader's limits, for root to name what stopped it.
constexpr int reader_cpu_seconds = 30;

#endif
