#include "archive.h"

#include <dlfcn.h>
#include <iterator>

#ifndef TOVRIN_FW_LIBARCHIVE
#define TOVRIN_FW_LIBARCHIVE "libarchive.so.13"
#endif

namespace
{

libarchive lib;

template <typename F>
bool
bind(void *handle, F &f, const char *name)
{
	f = reinterpret_cast<F>(dlsym(handle, name));
	return f != nullptr;
}

} // namespace

const libarchive *
load_libarchive()
{
	static bool tried, loaded;
	if (tried)
		return loaded ? &lib : nullptr;
	tried = true;
	// Bound as each function is first called: a handful of libarchive's
	// functions, not all of its libraries', and no file is read for it.
	void *h = dlopen(TOVRIN_FW_LIBARCHIVE, RTLD_LAZY | RTLD_LOCAL);
	if (h == nullptr)
		return nullptr;
	// No program is started for a format or a filter, and no file is
	// opened: mtree opens the files it names, lrzip, lzop and grzip run
	// programs of those names, and lha asks iconv for Japanese names'
	// converter; none is here.
	static const char *const formats[std::size(lib.formats)] = {
		"archive_read_support_format_zip",
		"archive_read_support_format_cab",
		"archive_read_support_format_7zip",
		"archive_read_support_format_iso9660",
		"archive_read_support_format_tar",
		"archive_read_support_format_cpio",
		"archive_read_support_format_rar",
		"archive_read_support_format_rar5",
	};
	static const char *const filters[std::size(lib.filters)] = {
		"archive_read_support_filter_gzip",
		"archive_read_support_filter_bzip2",
		"archive_read_support_filter_xz",
		"archive_read_support_filter_lzma",
		"archive_read_support_filter_zstd",
		"archive_read_support_filter_compress",
	};
	bool ok = bind(h, lib.read_new, "archive_read_new") &&
		  bind(h, lib.open_fd, "archive_read_open_fd") &&
		  bind(h, lib.next_header, "archive_read_next_header") &&
		  bind(h, lib.read_data, "archive_read_data") &&
		  bind(h, lib.error_string, "archive_error_string") &&
		  bind(h, lib.read_free, "archive_read_free") &&
		  bind(h, lib.pathname, "archive_entry_pathname") &&
		  bind(h, lib.filetype, "archive_entry_filetype") &&
		  bind(h, lib.size, "archive_entry_size") &&
		  bind(h, lib.size_is_set, "archive_entry_size_is_set") &&
		  bind(h, lib.hardlink, "archive_entry_hardlink");
	for (size_t i = 0; ok && i < std::size(formats); i++)
		ok = bind(h, lib.formats[i], formats[i]);
	for (size_t i = 0; ok && i < std::size(filters); i++)
		ok = bind(h, lib.filters[i], filters[i]);
	loaded = ok;
	return loaded ? &lib : nullptr;
}
