#ifndef TOVRIN_FW_LISTEN_H
#define TOVRIN_FW_LISTEN_H

// Root's side of the reader: starts it, and takes its answer within
// bounds, believing nothing it says that it could not have been given.

#include "reader.h"
#include "rules.h"

#include <string>
#include <sys/types.h>
#include <vector>

struct answer {
	// Set where the reader could not be sealed (under root, nothing was
	// read), or was stopped: a limit, a signal, a lie, or the clock.
	std::string unsealed;
	std::string stopped;
	char failed = 0; // 'U' not a package, 'D' damaged, 'M' out of memory
	std::string why; // the library's words, as a terminal can show them
	std::vector<entry> listing; // a package's
	bool listed = false;
	std::vector<located> found;
	std::vector<int64_t> got; // what each of found unpacked to
	std::vector<int> errors;  // and the errno where it could not be read
	std::string image;        // the first image's bytes
	bool images_differ = false;
};

// Runs the reader on r (a folder's entries are root's) and collects its
// answer: what it may not say ends it, in stopped.
answer listen(const reading &r, bool root);

// The reader while it runs, for a signal to end it too.
extern pid_t reader_pid;

// The reader's wall-clock bound.
#ifndef TOVRIN_FW_READER_SECONDS
#define TOVRIN_FW_READER_SECONDS 60
#endif

#endif
