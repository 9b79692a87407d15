#include "seal.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#ifndef TOVRIN_FW_NO_SECCOMP
#include <seccomp.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define TOVRIN_FW_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVRIN_FW_ASAN 1
#endif
#endif

namespace
{

// Under root, the reader's user and group: no account or service has
// them, and each run has its own, so that no reader can signal another.
uid_t reader_id;
// As a user, the caller's, mapped into the reader's user namespace.
uid_t user_uid;
gid_t user_gid;
bool in_user_ns;
// The reader's root where no tmpfs can be its own; named by root's pid.
char empty_dir[64];

// Whether a line of an /etc/passwd-like file names id in its third field.
bool
listed(const char *file, uid_t id)
{
	FILE *f = fopen(file, "re");
	if (f == nullptr)
		return false;
	char line[1024];
	bool found = false;
	while (!found && fgets(line, sizeof line, f) != nullptr) {
		const char *field = line;
		for (int i = 0; i < 2 && field != nullptr; i++)
			if ((field = strchr(field, ':')) != nullptr)
				field++;
		found = field != nullptr &&
			strtoul(field, nullptr, 10) ==
				static_cast<unsigned long>(id);
	}
	fclose(f);
	return found;
}

// Far above the ids that systemd and sssd hand out; the local files are
// asked, not every directory service, which would cost more than the
// whole run.
uid_t
pick_id()
{
	uid_t id = 0x7ffe0000 + static_cast<uid_t>(getpid() & 0xffff);
	while (listed("/etc/passwd", id) || listed("/etc/group", id))
		id++;
	return id;
}

// Where the kernel has no randomness yet, early in a boot: the pid and
// the clock, still unknown a moment before.
void
put_pid(unsigned char r[8])
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	const uint64_t v = static_cast<uint64_t>(getpid()) << 32 ^
			   static_cast<uint64_t>(t.tv_nsec);
	for (int i = 0; i < 8; i++)
		r[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool
write_file(const char *path, const char *text)
{
	const int fd = open(path, O_WRONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	const size_t len = strlen(text);
	const bool ok = write(fd, text, len) == static_cast<ssize_t>(len);
	close(fd);
	return ok;
}

// Every descriptor but those in keep (sorted, ascending) is closed.
void
close_others(const int *keep, size_t nkeep)
{
	unsigned from = 0;
	for (size_t i = 0; i < nkeep; i++) {
		const unsigned fd = static_cast<unsigned>(keep[i]);
		if (fd > from)
			syscall(SYS_close_range, from, fd - 1, 0);
		from = fd + 1;
	}
	syscall(SYS_close_range, from, ~0U, 0);
}

// An empty, read-only root in the reader's own mount namespace: no file
// of the machine is there to open, even were a call allowed to.
const char *
empty_root()
{
	if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
		if (errno != EINVAL)
			return "mount: making / private";
		// In a chroot, / is no mount point and cannot be made
		// private: a mount of ours could reach the caller's own
		// namespace and stay.  An empty folder of root's instead,
		// which root removes.
		if (mkdir(empty_dir, 0555) != 0)
			return "mkdir: an empty folder in /tmp";
		if (chdir(empty_dir) != 0 || chroot(".") != 0 ||
		    chdir("/") != 0)
			return "chroot";
		return nullptr;
	}
	static const char *const places[] = {"/tmp", "/mnt", "/dev"};
	for (const char *place : places) {
		if (mount("tovrin-fw", place, "tmpfs",
			  MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC,
			  "size=4k,nr_inodes=2,mode=0555") != 0)
			continue;
		if (chdir(place) != 0 || chroot(".") != 0 || chdir("/") != 0)
			return "chroot";
		return nullptr;
	}
	return "mount: an empty tmpfs";
}

const char *
drop_capabilities()
{
	for (int cap = 0; prctl(PR_CAPBSET_READ, cap) >= 0; cap++)
		if (prctl(PR_CAPBSET_DROP, cap) != 0)
			return "prctl: PR_CAPBSET_DROP";
	if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 &&
	    errno != EINVAL)
		return "prctl: PR_CAP_AMBIENT";
	return nullptr;
}

const char *
clear_capability_sets()
{
	__user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
	__user_cap_data_struct data[2] = {};
	if (syscall(SYS_capset, &header, data) != 0)
		return "capset";
	return nullptr;
}

const char *
set_limits()
{
	struct limit {
		int resource;
		rlim_t value;
		const char *name;
	};
	// No new process, no file written, no descriptor opened; a second
	// of CPU time past the soft limit before SIGKILL.  Memory is bounded
	// but under AddressSanitizer, whose shadow alone is far larger.
	static const limit limits[] = {
		{RLIMIT_NPROC, 0, "RLIMIT_NPROC"},
		{RLIMIT_FSIZE, 0, "RLIMIT_FSIZE"},
		{RLIMIT_NOFILE, 0, "RLIMIT_NOFILE"},
		{RLIMIT_CORE, 0, "RLIMIT_CORE"},
		{RLIMIT_MEMLOCK, 0, "RLIMIT_MEMLOCK"},
		{RLIMIT_MSGQUEUE, 0, "RLIMIT_MSGQUEUE"},
		{RLIMIT_CPU, reader_cpu_seconds, "RLIMIT_CPU"},
#ifndef TOVRIN_FW_ASAN
		{RLIMIT_AS, rlim_t{1} << 30, "RLIMIT_AS"},
#endif
	};
	for (const limit &l : limits) {
		rlimit r;
		if (getrlimit(l.resource, &r) != 0)
			return l.name;
		// The caller's tighter limits stand.
		const rlim_t grace = l.resource == RLIMIT_CPU ? 1 : 0;
		r.rlim_cur = std::min(r.rlim_cur, l.value);
		r.rlim_max = std::min(r.rlim_max, r.rlim_cur + grace);
		if (setrlimit(l.resource, &r) != 0)
			return l.name;
	}
	return nullptr;
}

#ifndef TOVRIN_FW_NO_SECCOMP
// Reading descriptors, mapping memory, and the calls that a C library
// makes on its own to do so; nothing that names a path, and no mapping
// that can run code.
const char *const allowed[] = {
	"read",
	"pread64",
	"lseek",
	"_llseek",
	"fstat",
	"fstat64",

	"brk",
	"munmap",
	"mremap",
	"madvise",
	"exit",
	"exit_group",
	"rt_sigreturn",
	"sigreturn",
	"rt_sigprocmask",
	"futex",
	"getpid",
	"gettid",
	"clock_gettime",
	"clock_gettime64",
	"gettimeofday",
	"time",
	"close",
#ifdef TOVRIN_FW_ASAN
	// AddressSanitizer's own, as each call returns.
	"sigaltstack",
#endif
};

const char *
load_filter(int out)
{
	scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(EPERM));
	if (ctx == nullptr)
		return "seccomp_init";
	int failed = 0;
	for (const char *name : allowed) {
		const int nr = seccomp_syscall_resolve_name(name);
		if (nr != __NR_SCMP_ERROR)
			failed |= seccomp_rule_add(ctx, SCMP_ACT_ALLOW, nr, 0);
	}
	// Written out, as C++ has no designated initializers of C's kind.
	const scmp_arg_cmp to_out = {0, SCMP_CMP_EQ,
				     static_cast<scmp_datum_t>(out), 0};
	const scmp_arg_cmp no_exec = {2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0};
	failed |= seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(write), 1,
				   to_out);
	// A descriptor's status, never a path's.
	const scmp_arg_cmp empty_path = {3, SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH,
					 AT_EMPTY_PATH};
	const scmp_arg_cmp statx_empty = {2, SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH,
					  AT_EMPTY_PATH};
	static const char *const statters[] = {"newfstatat", "fstatat64"};
	for (const char *name : statters) {
		const int nr = seccomp_syscall_resolve_name(name);
		if (nr != __NR_SCMP_ERROR)
			failed |= seccomp_rule_add(ctx, SCMP_ACT_ALLOW, nr, 1,
						   empty_path);
	}
	failed |= seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(statx), 1,
				   statx_empty);
	static const char *const mappers[] = {"mmap", "mmap2", "mprotect"};
	for (const char *name : mappers) {
		const int nr = seccomp_syscall_resolve_name(name);
		if (nr != __NR_SCMP_ERROR)
			failed |= seccomp_rule_add(ctx, SCMP_ACT_ALLOW, nr, 1,
						   no_exec);
	}
	if (failed == 0)
		failed = seccomp_load(ctx);
	seccomp_release(ctx);
	if (failed != 0) {
		errno = -failed;
		return "seccomp";
	}
	return nullptr;
}
#else
const char *
load_filter(int)
{
	errno = ENOSYS;
	return "seccomp (built without libseccomp)";
}
#endif

} // namespace

pid_t
spawn_reader(bool root)
{
	constexpr unsigned long own =
		CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWIPC;
	if (root)
		reader_id = pick_id();
	// A name no one can make first to stop the run.
	unsigned char r[8] = {};
	if (getrandom(r, sizeof r, GRND_NONBLOCK) != sizeof r)
		put_pid(r);
	snprintf(empty_dir, sizeof empty_dir,
		 "/tmp/.tovrin-fw-reader.%02x%02x%02x%02x%02x%02x%02x%02x",
		 r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
	user_uid = getuid();
	user_gid = getgid();
	// As fork(), with namespaces: no stack of its own, the child returns
	// here.  glibc keeps no pid of its own to be stale in the child.
	unsigned long flags = own | (root ? 0 : CLONE_NEWUSER) | SIGCHLD;
	pid_t pid = static_cast<pid_t>(syscall(SYS_clone, flags, 0, 0, 0, 0));
	in_user_ns = !root && pid >= 0;
	if (pid < 0 && !root)
		pid = fork(); // the kernel gives users no namespaces here
	return pid;
}

void
reader_ended()
{
	rmdir(empty_dir);
}

const char *
seal(bool root, const int *keep, size_t nkeep, int out)
{
	const char *why = nullptr;
	close_others(keep, nkeep);
	if (in_user_ns) {
		char map[64];
		snprintf(map, sizeof map, "%u %u 1", user_uid, user_uid);
		write_file("/proc/self/setgroups", "deny");
		write_file("/proc/self/uid_map", map);
		snprintf(map, sizeof map, "%u %u 1", user_gid, user_gid);
		write_file("/proc/self/gid_map", map);
	}
	if (root || in_user_ns) {
		why = empty_root();
		if (why != nullptr && root)
			return why;
	}
	if (root || in_user_ns) {
		why = drop_capabilities();
		if (why != nullptr && root)
			return why;
	}
	if (root) {
		if (setgroups(0, nullptr) != 0)
			return "setgroups";
		if (setresgid(reader_id, reader_id, reader_id) != 0)
			return "setresgid";
		if (setresuid(reader_id, reader_id, reader_id) != 0)
			return "setresuid";
	}
	if ((why = clear_capability_sets()) != nullptr && root)
		return why;
	// After the change of id, which clears both: root's end, however it
	// comes, ends the reader too, and no one may trace it.
	prctl(PR_SET_PDEATHSIG, SIGKILL);
	if (prctl(PR_SET_DUMPABLE, 0) != 0 && root)
		return "prctl: PR_SET_DUMPABLE";
	if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
		return "prctl: PR_SET_NO_NEW_PRIVS";
	if ((why = set_limits()) != nullptr)
		return why;
	if ((why = load_filter(out)) != nullptr && root)
		return why;
	return nullptr;
}
