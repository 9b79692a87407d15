#include "reader.h"
#include "findfw.h"
#include "reason.h"
#include "records.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <unistd.h>

namespace
{

int out_fd;
unsigned char *buf; // one driver at a time, and a byte to tell it is more

void
send(unsigned char type, const void *a, size_t alen, const void *b = nullptr,
     size_t blen = 0)
{
	if (!put_record(out_fd, type, a, alen, b, blen))
		_exit(1);
}

[[noreturn]] void
fail(char why, const char *text)
{
	const unsigned char c = static_cast<unsigned char>(why);
	send('F', &c, 1, text, text != nullptr ? strnlen(text, max_reason) : 0);
	_exit(0);
}

// The locator on one driver's got bytes, and its answer: an 'R' record's
// payload.
std::string
located(size_t index, int64_t got)
{
	unsigned char head[17];
	put_le(head, index, 4);
	put_le(head + 4, static_cast<uint64_t>(got), 8);
	const auto *h = reinterpret_cast<const char *>(head);
	if (got > max_driver) {
		// More than it said it holds: root says so, no image needed.
		head[12] = 'N';
		head[13] = 0;
		return std::string(h, 14);
	}
	uint32_t size;
	locator_reason = "";
	const unsigned char *fw = findfw(buf, static_cast<int32_t>(got), &size);
	if (fw != nullptr) {
		head[12] = 'I';
		put_le(head + 13, static_cast<uint64_t>(fw - buf), 4);
		return std::string(h, 17) +
		       std::string(reinterpret_cast<const char *>(fw), size);
	}
	size_t code = 0;
	while (code < nreasons && strcmp(reasons[code], locator_reason) != 0)
		code++;
	head[12] = 'N';
	head[13] = static_cast<unsigned char>(code);
	return std::string(h, 14);
}

void
answer(size_t index, int64_t got)
{
	const std::string said = located(index, got);
	send('R', said.data(), said.size());
}

// Up to limit bytes of fd into buf: how many, or -1.
int64_t
read_fd(int fd, int64_t limit)
{
	int64_t got = 0;
	while (got < limit) {
		const size_t want = static_cast<size_t>(
			std::min<int64_t>(limit - got, 1 << 20));
		const ssize_t n = read(fd, buf + got, want);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return -1;
		if (n == 0)
			break;
		got += n;
	}
	return got;
}

// A read error on a driver: its errno, in place of a reason.
void
unreadable(size_t index, int err)
{
	unsigned char head[17];
	put_le(head, index, 4);
	put_le(head + 4, 0, 8);
	head[12] = 'E';
	put_le(head + 13, static_cast<uint64_t>(err), 4);
	send('R', head, 17);
}

void
read_driver(int fd)
{
	const int64_t got = read_fd(fd, max_driver + 1);
	if (got < 0)
		unreadable(0, errno);
	else
		answer(0, got);
}

archive *
open_package(const libarchive &l, int fd)
{
	archive *a = l.read_new();
	if (a == nullptr)
		fail('M', nullptr);
	for (auto support : l.formats)
		support(a);
	for (auto support : l.filters)
		support(a);
	if (l.open_fd(a, fd, 65536) == archive_ok)
		return a;
	const char *why = l.error_string(a);
	if (why != nullptr && strstr(why, "Unrecognized archive format"))
		return nullptr;
	if (why != nullptr && strstr(why, "memory") != nullptr)
		fail('M', why);
	fail('D', why);
}

// The entry's path as the package names it, less a leading "./", where
// it names a CnxEtU.sys.
bool
driver_entry(const libarchive &l, archive_entry *e, std::string_view &path)
{
	const char *name = l.pathname(e);
	if (name == nullptr)
		return false;
	path = name;
	if (path.starts_with("./"))
		path.remove_prefix(2);
	path = path.substr(0, max_path);
	return driver_name(path);
}

[[noreturn]] void
read_package(const reading &r)
{
	const libarchive &l = *r.lib;
	archive *a = open_package(l, r.source);
	if (a == nullptr) {
		// Not a package: the file may be the driver itself.
		const unsigned char c = 'U';
		send('F', &c, 1);
		if (r.size <= max_driver && lseek(r.source, 0, SEEK_SET) == 0)
			read_driver(r.source);
		_exit(0);
	}
	// One pass: each driver is unpacked as it comes, while the drivers
	// so far stay within the bounds, and its answer is kept until the
	// listing is whole, so that root judges the sizes first.
	std::vector<entry> listing;
	std::vector<std::string> answers;
	int64_t total = 0;
	archive_entry *e;
	int status;
	while ((status = l.next_header(a, &e)) == archive_ok ||
	       status == archive_warn) {
		std::string_view path;
		if (!driver_entry(l, e, path))
			continue;
		const mode_t type = l.filetype(e) & ae_ifmt;
		// A hard link in a tar is its target's data, read there.
		const kind k = type == ae_ifreg && l.hardlink(e) == nullptr
				       ? kind::regular
			       : type == ae_iflnk ? kind::link
						  : kind::other;
		const int64_t size = l.size_is_set(e) ? l.size(e) : -1;
		unsigned char head[9];
		head[0] = k == kind::regular ? 'r'
			  : k == kind::link  ? 'l'
					     : 'o';
		put_le(head + 1, static_cast<uint64_t>(size), 8);
		send('E', head, 9, path.data(), path.size());
		listing.push_back({std::string(path), k, size});
		if (listing.size() > max_listed)
			_exit(0); // root refuses so many
		if (k != kind::regular || size > max_driver ||
		    (!r.only.empty() && path != r.only))
			continue;
		total += size < 0 ? max_driver : size;
		if (total > max_total)
			continue; // root refuses them all
		const int64_t limit = (size < 0 ? max_driver : size) + 1;
		int64_t got = 0;
		ssize_t n = 0;
		while (got < limit &&
		       (n = l.read_data(a, buf + got,
					static_cast<size_t>(limit - got))) > 0)
			got += n;
		if (got < limit && n < 0)
			fail('D', l.error_string(a));
		answers.push_back(located(listing.size() - 1, got));
	}
	if (status != archive_eof)
		fail('D', l.error_string(a));
	send('L', nullptr, 0);
	if (plan_drivers(listing, r.only).outcome == plan::go)
		for (const std::string &said : answers)
			send('R', said.data(), said.size());
	_exit(0);
}

} // namespace

void
prepare_reader(const reading &r)
{
	buf = static_cast<unsigned char *>(malloc(max_driver + 1));
	if (r.kind != reading::package)
		return;
	// Names in packages are UTF-8, UTF-16 or bytes taken as they are:
	// in a UTF-8 locale, the formats read here convert them without a
	// converter of iconv's (one that a format would ask for later could
	// no longer be loaded).
	if (setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
		setlocale(LC_CTYPE, "C");
	// The local time zone, which a zip's times are read in.
	const time_t epoch = 0;
	localtime(&epoch);
}

void
run_reader(const reading &r, int out)
{
	out_fd = out;
	if (buf == nullptr)
		fail('M', nullptr);
	switch (r.kind) {
	case reading::package:
		read_package(r);
	case reading::folder:
		for (size_t i : *r.drivers) {
			const int64_t got =
				read_fd((*r.fds)[i], (*r.entries)[i].size + 1);
			if (got < 0)
				unreadable(i, errno);
			else
				answer(i, got);
		}
		_exit(0);
	case reading::driver:
		break;
	}
	read_driver(r.source);
	_exit(0);
}
