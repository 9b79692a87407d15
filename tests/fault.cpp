// Makes one system call of tovrin-fw fail, for the tests.  Loaded with
// LD_PRELOAD; TOVRIN_FW_FAULT says which call and how, as CALL:HOW:
//
//   open-in:E, fstat:E, mmap:E, open-out:E, close:E, argp:E
//                      that call fails with errno E (EIO, ENOSPC, ...)
//   write:short        the first write takes half, the next ones all
//   write:short,E      the first write takes half, the next one fails
//   write:SIGTERM      SIGTERM arrives inside the first write, after half
//   mmap:cut           INFILE is cut to nothing right after it is mapped
//   open-out:cut       INFILE is cut to 4 KiB when OUTFILE is created
#include <argp.h>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const struct {
	const char *name;
	int value;
} errnos[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EACCES", EACCES},
	      {"ENOMEM", ENOMEM}, {"EDQUOT", EDQUOT}, {"EFBIG", EFBIG}};

// The errno that HOW (from after the colon or comma) names, or 0.
int
errno_named(const char *how)
{
	for (const auto &e : errnos)
		if (strcmp(how, e.name) == 0)
			return e.value;
	return 0;
}

// HOW if TOVRIN_FW_FAULT is about call, else null.
const char *
fault_for(const char *call)
{
	const char *f = getenv("TOVRIN_FW_FAULT");
	size_t n = strlen(call);
	if (f == nullptr || strncmp(f, call, n) != 0 || f[n] != ':')
		return nullptr;
	return f + n + 1;
}

// Whether TOVRIN_FW_FAULT is exactly call:how.
bool
asked(const char *call, const char *how)
{
	const char *f = fault_for(call);
	return f != nullptr && strcmp(f, how) == 0;
}

// Fails with the named errno: returns true and sets errno.
bool
fails(const char *call)
{
	const char *how = fault_for(call);
	int e = how != nullptr ? errno_named(how) : 0;
	if (e != 0)
		errno = e;
	return e != 0;
}

template <typename F>
F
next(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// INFILE's path, remembered to cut it later, and OUTFILE's descriptor.
char infile[4096];
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
	else if (asked("open-out", "cut"))
		cut_infile(4096);
	int fd = next<int (*)(const char *, int, ...)>("open64")(path, flags,
								 mode);
	if (out)
		outfd = fd;
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
	if (asked("mmap", "cut"))
		cut_infile(0);
	return p;
}

ssize_t
write(int fd, const void *buf, size_t len)
{
	static int calls;
	auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
	const char *how = fault_for("write");
	if (how == nullptr || fd != outfd || calls++ > 1)
		return real(fd, buf, len);
	if (calls == 2) { // the write after the short one
		const char *comma = strchr(how, ',');
		if (comma == nullptr)
			return real(fd, buf, len);
		errno = errno_named(comma + 1);
		return -1;
	}
	ssize_t n = real(fd, buf, len / 2);
	if (asked("write", "SIGTERM"))
		raise(SIGTERM);
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
