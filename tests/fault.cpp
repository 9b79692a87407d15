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
//   rename:E, fsync:E  the installer's rename and fsync fail with errno E
//   mmap:cut           INFILE is cut to nothing right after it is mapped
//   open-out:cut       INFILE is cut to 4 KiB when OUTFILE is created
//
// Each fault, once it has acted (a write fault: its last step), is named
// as listed on a line of the file TOVRIN_FW_FAULT_LOG, so that a test can
// tell a fault the program shrugged off from one that never fired.  A
// call is caught by every name a compiler may make the program use: the
// plain, 64-bit and fortified entry points (this file is built without
// _FILE_OFFSET_BITS and _FORTIFY_SOURCE, so that it can define them all).
#include <algorithm>
#include <argp.h>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
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

template <typename F>
F
next(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Names call's fault in TOVRIN_FW_FAULT_LOG: it has acted.
void
fired(std::string_view call)
{
	static int log = -1;
	const char *path = getenv("TOVRIN_FW_FAULT_LOG");
	if (path == nullptr)
		return;
	const int saved = errno;
	if (log < 0)
		log = next<int (*)(const char *, int, ...)>("open")(
			path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
	char line[256];
	const std::string_view how = fault_for(call);
	const int n = snprintf(line, sizeof line, "%.*s:%.*s\n",
			       static_cast<int>(call.size()), call.data(),
			       static_cast<int>(how.size()), how.data());
	next<ssize_t (*)(int, const void *, size_t)>("write")(
		log, line, static_cast<size_t>(n));
	errno = saved;
}

// Fails with the errno that call's fault names: returns true and sets
// errno.
bool
fails(std::string_view call)
{
	int e = lookup(errnos, fault_for(call));
	if (e != 0) {
		fired(call);
		errno = e;
	}
	return e != 0;
}

// Sends the signal that call's fault names, if it names one.
void
signal_at(std::string_view call)
{
	if (int sig = lookup(signals, fault_for(call))) {
		fired(call);
		raise(sig);
	}
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

// An open of INFILE or OUTFILE (the one it creates), whichever entry
// point reached it; real() makes the call itself.
template <typename Real>
int
open_file(const char *path, int flags, Real real)
{
	const bool out = flags & O_CREAT;
	if (fails(out ? "open-out" : "open-in"))
		return -1;
	if (!out) {
		strncpy(infile, path, sizeof infile - 1);
	} else if (fault_for("open-out") == "cut") {
		cut_infile(4096);
		fired("open-out");
	}
	int fd = real();
	if (out) {
		outfd = fd;
		signal_at("open-out");
	}
	return fd;
}

template <typename Real>
void *
map_file(Real real)
{
	if (fails("mmap"))
		return MAP_FAILED;
	void *p = real();
	mapped = p;
	if (fault_for("mmap") == "cut") {
		cut_infile(0);
		fired("mmap");
	}
	return p;
}

} // namespace

extern "C" {

#define OPEN(name)                                                             \
	int name(const char *path, int flags, ...)                             \
	{                                                                      \
		mode_t mode = 0;                                               \
		if (flags & O_CREAT) {                                         \
			va_list ap;                                            \
			va_start(ap, flags);                                   \
			mode = va_arg(ap, mode_t);                             \
			va_end(ap);                                            \
		}                                                              \
		return open_file(path, flags, [&] {                            \
			return next<int (*)(const char *, int, ...)>(#name)(   \
				path, flags, mode);                            \
		});                                                            \
	}
#define OPEN_FORTIFIED(name)                                                   \
	int name(const char *path, int flags)                                  \
	{                                                                      \
		return open_file(path, flags, [&] {                            \
			return next<int (*)(const char *, int)>(#name)(path,   \
								       flags); \
		});                                                            \
	}
OPEN(open)
OPEN(open64)
OPEN_FORTIFIED(__open_2)
OPEN_FORTIFIED(__open64_2)

int
fstat(int fd, struct stat *st) noexcept
{
	if (fails("fstat"))
		return -1;
	return next<int (*)(int, struct stat *)>("fstat")(fd, st);
}

int
fstat64(int fd, struct stat64 *st) noexcept
{
	if (fails("fstat"))
		return -1;
	return next<int (*)(int, struct stat64 *)>("fstat64")(fd, st);
}

void *
mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off) noexcept
{
	return map_file([&] {
		return next<void *(*)(void *, size_t, int, int, int, off_t)>(
			"mmap")(addr, len, prot, flags, fd, off);
	});
}

void *
mmap64(void *addr, size_t len, int prot, int flags, int fd,
       off64_t off) noexcept
{
	return map_file([&] {
		return next<void *(*)(void *, size_t, int, int, int, off64_t)>(
			"mmap64")(addr, len, prot, flags, fd, off);
	});
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
	const std::string_view steps = fault_for("write");
	std::string_view how = step(steps, calls++);
	// The last step acts: the fault has fired.
	if (!how.empty() &&
	    calls == std::count(steps.begin(), steps.end(), ',') + 1)
		fired("write");
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

// The installer's last steps: its image flushed, and renamed into place.
extern "C" int
rename(const char *from, const char *to) noexcept
{
	if (fails("rename"))
		return -1;
	return next<int (*)(const char *, const char *)>("rename")(from, to);
}

extern "C" int
renameat2(int from_dir, const char *from, int to_dir, const char *to,
	  unsigned flags) noexcept
{
	if (fails("rename"))
		return -1;
	return next<int (*)(int, const char *, int, const char *, unsigned)>(
		"renameat2")(from_dir, from, to_dir, to, flags);
}

extern "C" int
fsync(int fd)
{
	if (fails("fsync"))
		return -1;
	return next<int (*)(int)>("fsync")(fd);
}
