#ifndef TOVRIN_FW_ARCHIVE_H
#define TOVRIN_FW_ARCHIVE_H

// libarchive, loaded only when a package is to be read, so that the
// installer works from a folder or the bare driver where it is missing.
// Its stable interface (libarchive.so.13), declared here: no build needs
// its headers.

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

struct archive;
struct archive_entry;

struct libarchive {
	archive *(*read_new)();
	int (*support_format)(archive *); // each of formats, in turn
	int (*support_filter)(archive *); // each of filters, in turn
	int (*open_fd)(archive *, int, size_t);
	int (*next_header)(archive *, archive_entry **);
	ssize_t (*read_data)(archive *, void *, size_t);
	const char *(*error_string)(archive *);
	int (*read_free)(archive *);
	const char *(*pathname)(archive_entry *);
	mode_t (*filetype)(archive_entry *);
	int64_t (*size)(archive_entry *);
	int (*size_is_set)(archive_entry *);
	const char *(*hardlink)(archive_entry *);
	// The formats and filters that vendors ship drivers in, and those
	// that need no other program and no file but the package.
	int (*formats[8])(archive *);
	int (*filters[6])(archive *);
};

constexpr int archive_ok = 0, archive_eof = 1, archive_warn = -20;
constexpr mode_t ae_ifmt = 0170000, ae_ifreg = 0100000, ae_iflnk = 0120000;

// The library, or null where it cannot be loaded.
const libarchive *load_libarchive();

#endif
