#include "put.h"
#include "say.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace
{

// What a signal must remove: the part written, and the folders made for
// DIR, DIR first, while they are empty.  Their names are known before
// they are made.
std::string part;
volatile sig_atomic_t have_part;
std::vector<std::string> made;
volatile sig_atomic_t have_made;

// What dirname says of path.
std::string
parent(std::string path)
{
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	const size_t slash = path.rfind('/');
	if (slash == std::string::npos)
		return ".";
	path.erase(slash);
	while (path.size() > 1 && path.back() == '/')
		path.pop_back();
	return path.empty() ? "/" : path;
}

bool
exists(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0;
}

bool
holds(const std::string &target, const std::string &image)
{
	// A link or a device there holds no image of ours: never opened.
	const int fd = open(target.c_str(),
			    O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0)
		return false;
	struct stat st;
	bool same = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
		    static_cast<uint64_t>(st.st_size) == image.size();
	char chunk[65536];
	for (size_t at = 0; same && at < image.size();) {
		const ssize_t n = read(fd, chunk, sizeof chunk);
		same = n > 0 && static_cast<size_t>(n) <= image.size() - at &&
		       memcmp(chunk, image.data() + at,
			      static_cast<size_t>(n)) == 0;
		at += n > 0 ? static_cast<size_t>(n) : 0;
	}
	close(fd);
	return same;
}

// Whether the kernel's firmware loader reads dir: its own folders, and
// the one its path parameter names.
bool
read_by_loader(const std::string &dir)
{
	struct stat here, there;
	if (stat(dir.c_str(), &here) != 0)
		return false;
	std::vector<std::string> dirs;
	char custom[4096] = "";
	const int fd = open("/sys/module/firmware_class/parameters/path",
			    O_RDONLY | O_CLOEXEC);
	if (fd >= 0) {
		const ssize_t n = read(fd, custom, sizeof custom - 1);
		custom[n > 0 ? n : 0] = '\0';
		custom[strcspn(custom, "\n")] = '\0';
		close(fd);
	}
	if (custom[0] != '\0')
		dirs.push_back(custom);
	utsname u;
	const std::string release = uname(&u) == 0 ? u.release : "";
	dirs.push_back("/lib/firmware/updates/" + release);
	dirs.push_back("/lib/firmware/updates");
	dirs.push_back("/lib/firmware/" + release);
	dirs.push_back("/lib/firmware");
	for (const std::string &d : dirs)
		if (stat(d.c_str(), &there) == 0 &&
		    there.st_dev == here.st_dev && there.st_ino == here.st_ino)
			return true;
	return false;
}

bool
write_all(int fd, const std::string &image)
{
	for (size_t at = 0; at < image.size();) {
		const ssize_t n =
			write(fd, image.data() + at, image.size() - at);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		at += static_cast<size_t>(n);
	}
	return fsync(fd) == 0;
}

// Where the default folder refuses a user, the want of root's rights is
// the reason; any other failure is told in the system's words.
[[noreturn]] void
unwritable(bool create, const std::string &dir, bool needs_root)
{
	const int err = errno;
	const std::string why = strerror(err);
	needs_root = needs_root && (err == EACCES || err == EPERM);
	if (create && needs_root)
		die("cannot create `%s' (the default needs root)", {dir});
	if (create)
		die("cannot create `%s': %s", {dir, why});
	if (needs_root)
		die("cannot write to `%s' (the default needs root)", {dir});
	die("cannot write to `%s': %s", {dir, why});
}

} // namespace

void
put_cleanup()
{
	if (have_part)
		unlink(part.c_str());
	have_part = 0;
	if (!have_made)
		return;
	// One that mkdir did not get to is no reason to stop; one that holds
	// something is.
	for (const std::string &d : made)
		if (rmdir(d.c_str()) != 0 &&
		    (errno == ENOTEMPTY || errno == EEXIST || errno == EBUSY))
			break;
	have_made = 0;
}

void
put_image(const std::string &dir, const std::string &image, bool force,
	  bool needs_root)
{
	const std::string target = dir + "/tovrin-fw.bin";
	struct stat st;
	if (lstat(target.c_str(), &st) == 0) {
		if (holds(target, image)) {
			say("`%s' already holds this image: left as it is",
			    {target});
			exit(0);
		}
		if (!force)
			die("`%s' holds another image: left as it is (--force "
			    "replaces it)",
			    {target});
	}
	if (!exists(dir)) {
		for (std::string d = dir; !exists(d); d = parent(d))
			made.push_back(d);
		have_made = 1;
		for (auto d = made.rbegin(); d != made.rend(); ++d)
			if (mkdir(d->c_str(), 0755) != 0 && errno != EEXIST)
				unwritable(true, dir, needs_root);
	}
	if (access(dir.c_str(), W_OK) != 0)
		unwritable(false, dir, needs_root);

	// Written beside the target and renamed over it, so that the
	// kernel's loader sees the old image or the new one, never a part.
	std::string name = dir + "/.tovrin-fw.bin.XXXXXX";
	sigset_t ending, old;
	sigemptyset(&ending);
	for (int sig : {SIGHUP, SIGINT, SIGTERM})
		sigaddset(&ending, sig);
	sigprocmask(SIG_BLOCK, &ending, &old);
	const int fd = mkstemp(name.data());
	const int made_errno = errno;
	if (fd >= 0) {
		part = name;
		have_part = 1;
	}
	sigprocmask(SIG_SETMASK, &old, nullptr);
	if (fd < 0) {
		errno = made_errno;
		unwritable(false, dir, needs_root);
	}
	if (fchmod(fd, 0644) != 0 || !write_all(fd, image)) {
		close(fd);
		die("cannot write `%s'", {part});
	}
	close(fd);
	// Without --force, an image that came since it was looked at stays.
	int renamed;
	if (force) {
		renamed = rename(part.c_str(), target.c_str());
	} else {
		renamed = renameat2(AT_FDCWD, part.c_str(), AT_FDCWD,
				    target.c_str(), RENAME_NOREPLACE);
		if (renamed != 0 && errno == EEXIST)
			die("`%s' holds another image: left as it is (--force "
			    "replaces it)",
			    {target});
		// A file system that cannot refuse to replace.
		if (renamed != 0 && errno == EINVAL)
			renamed = rename(part.c_str(), target.c_str());
	}
	if (renamed != 0)
		die("cannot rename `%s' to `%s'", {part, target});
	have_part = 0;
	have_made = 0;
	// The rename itself on disk, so that a power cut cannot undo it.
	const int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (d >= 0) {
		fsync(d);
		close(d);
	}
	say("installed `%s'", {target});
	if (read_by_loader(dir)) {
		// TRANSLATORS: %s is a command.
		say("next: plug the modem in (again), then run %s as root to "
		    "see "
		    "whether the kernel loaded the firmware",
		    {"dmesg | grep -i firmware"});
	} else {
		// TRANSLATORS: the firmware folder given; a command to install
		// the image where the loader reads it.
		say("next: the kernel's firmware loader does not look in `%s': "
		    "on the computer the modem is connected to, run %s as "
		    "root, "
		    "then plug the modem in (again)",
		    {dir, "install -D -m 0644 " + target +
				  " /lib/firmware/tovrin-fw.bin"});
	}
}
