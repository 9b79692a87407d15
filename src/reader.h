#ifndef TOVRIN_FW_READER_H
#define TOVRIN_FW_READER_H

// The reader's side: what it reads, all of it opened by root, and how it
// answers on its pipe (records.h).

#include "archive.h"
#include "rules.h"

#include <cstdint>
#include <string_view>
#include <vector>

struct reading {
	enum { package, folder, driver } kind;
	const libarchive *lib; // for a package
	int source;            // the package, or the driver itself
	int64_t size;          // the driver's, where it is the source
	// A folder's drivers as root found them, and the plan's order.
	const std::vector<entry> *entries;
	const std::vector<int> *fds; // one for each entry, or -1
	const std::vector<size_t> *drivers;
	std::string_view only; // the driver the owner chose, if any
};

// Everything that libarchive and the C library would otherwise load
// later, once the reader reads: loaded before the seal.
void prepare_reader(const reading &r);

// Reads, answers on out, and ends the process.
[[noreturn]] void run_reader(const reading &r, int out);

#endif
