// Makes system calls of tovrin-fw fail, for the tests.  Loaded with
// LD_PRELOAD; TOVRIN_FW_FAULT lists the faults, CALL:HOW, separated by
// spaces:
//
//   open-in:E, fstat:E, mmap:E, open-out:E, close:E, argp:E
//                      that call fails with errno E (EIO, ENOSPC, ...)
//   write:STEP,...     the Nth write to OUTFILE takes the Nth step, the
//                      ones behind the list write in full.  A step is
//                      half (takes half), all-but-1 (all but the last
//                      byte), E (fails with errno E), SIGxxx (takes half,
//                      then that signal arrives), or 0 (takes nothing,
//                      then and ever after, as a file that is stuck)
//   open-out:SIGxxx    the signal arrives as soon as OUTFILE exists
//   munmap:SIGxxx      the signal arrives as INFILE is unmapped, after the
//                      image is complete
//   mmap:cut           INFILE is cut to nothing right after it is mapped
//   open-out:cut       INFILE is cut to 4 KiB when OUTFILE is created
#include <algorithm>
#include <argp.h>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct named {
	std::string_view name;
	int value;
};

const named errnos[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC},
			{"EACCES", EACCES}, {"ENOMEM", ENOMEM},
			{"EDQUOT", EDQUOT}, {"EFBIG", EFBIG}};
const named signals[] = {{"SIGHUP", SIGHUP},
			 {"SIGINT", SIGINT},
			 {"SIGTERM", SIGTERM},
			 {"SIGXFSZ", SIGXFSZ}};

// The value that how names in table, or 0.
template <size_t N>
int
lookup(const named (&table)[N], std::string_view how)
{
	for (const auto &e : table)
		if (how == e.name)
			return e.value;
	return 0;
}

// HOW of the fault that TOVRIN_FW_FAULT lists for call, or empty.
std::string_view
fault_for(std::string_view call)
{
	const char *env = getenv("TOVRIN_FW_FAULT");
	std::string_view faults = env != nullptr ? env : "";
	while (!faults.empty()) {
		std::string_view f = faults.substr(0, faults.find(' '));
		faults.remove_prefix(std::min(faults.size(), f.size() + 1));
		if (f.size() > call.size() && f.starts_with(call) &&
		    f[call.size()] == ':')
			return f.substr(call.size() + 1);
	}
	return {};
}

// The nth (from 0) comma-separated step of how, or empty.
std::string_view
step(std::string_view how, int n)
{
	for (; n > 0 && !how.empty(); n--) {
		size_t comma = how.find(',');
		how = comma == how.npos ? "" : how.substr(comma + 1);
	}
	return how.substr(0, how.find(','));
}

// Fails with the errno that call's fault names: returns true and sets
// errno.
bool
fails(std::string_view call)
{
	int e = lookup(errnos, fault_for(call));
	if (e != 0)
		errno = e;
	return e != 0;
}

// Sends the signal that call's fault names, if it names one.
void
signal_at(std::string_view call)
{
	if (int sig = lookup(signals, fault_for(call)))
		raise(sig);
}

template <typename F>
F
next(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// INFILE's path, remembered to cut it later, its mapping, and OUTFILE's
// descriptor.
char infile[4096];
void *mapped = MAP_FAILED;
int outfd = -1;

void
cut_infile(off_t len)
{
	if (truncate(infile, len) != 0)
		abort();
}

} // namespace

extern "C" {

int
open64(const char *path, int flags, ...)
{
	mode_t mode = 0;
	if (flags & O_CREAT) {
		va_list ap;
		va_start(ap, flags);
		mode = va_arg(ap, mode_t);
		va_end(ap);
	}
	const bool out = flags & O_CREAT;
	if (fails(out ? "open-out" : "open-in"))
		return -1;
	if (!out)
		strncpy(infile, path, sizeof infile - 1);
	else if (fault_for("open-out") == "cut")
		cut_infile(4096);
	int fd = next<int (*)(const char *, int, ...)>("open64")(path, flags,
								 mode);
	if (out) {
		outfd = fd;
		signal_at("open-out");
	}
	return fd;
}

int
fstat64(int fd, struct stat64 *st) noexcept
{
	if (fails("fstat"))
		return -1;
	return next<int (*)(int, struct stat64 *)>("fstat64")(fd, st);
}

void *
mmap64(void *addr, size_t len, int prot, int flags, int fd,
       off64_t off) noexcept
{
	if (fails("mmap"))
		return MAP_FAILED;
	void *p = next<void *(*)(void *, size_t, int, int, int, off64_t)>(
		"mmap64")(addr, len, prot, flags, fd, off);
	mapped = p;
	if (fault_for("mmap") == "cut")
		cut_infile(0);
	return p;
}

int
munmap(void *addr, size_t len) noexcept
{
	int r = next<int (*)(void *, size_t)>("munmap")(addr, len);
	if (addr == mapped)
		signal_at("munmap");
	return r;
}

ssize_t
write(int fd, const void *buf, size_t len)
{
	static int calls;
	static bool stuck;
	auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
	if (fd != outfd)
		return real(fd, buf, len);
	std::string_view how = step(fault_for("write"), calls++);
	if (stuck || how == "0") {
		stuck = true;
		return 0;
	}
	if (int e = lookup(errnos, how)) {
		errno = e;
		return -1;
	}
	if (how.empty())
		return real(fd, buf, len);
	ssize_t n = real(fd, buf, how == "all-but-1" ? len - 1 : len / 2);
	if (int sig = lookup(signals, how))
		raise(sig);
	return n;
}

int
close(int fd)
{
	int r = next<int (*)(int)>("close")(fd);
	if (r == 0 && fd == outfd && fails("close"))
		return -1;
	return r;
}

error_t
argp_parse(const struct argp *argp, int argc, char **argv, unsigned flags,
	   int *end, void *input)
{
	if (fails("argp"))
		return errno;
	return next<error_t (*)(const struct argp *, int, char **, unsigned,
				int *, void *)>("argp_parse")(
		argp, argc, argv, flags, end, input);
}
}
