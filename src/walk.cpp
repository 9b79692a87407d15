#include "walk.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Deeper folders are no vendor's: a bound, so that a crafted tree cannot
// run root out of descriptors.
constexpr int max_depth = 32;
// Set where a folder or a driver could not be opened for want of
// descriptors: then drivers would be missed, and the run must end.
int out_of_descriptors;

bool
no_descriptors(int fd)
{
	if (fd < 0 && (errno == EMFILE || errno == ENFILE))
		out_of_descriptors = errno;
	return fd < 0;
}

void
walk(int dir, const std::string &prefix, int depth, std::vector<entry> &entries,
     std::vector<int> &fds, size_t *bytes)
{
	DIR *d = fdopendir(dir);
	if (d == nullptr) {
		close(dir);
		return;
	}
	while (const dirent *de = readdir(d)) {
		if (entries.size() > max_listed || *bytes > max_listed_bytes)
			break;
		const std::string name = de->d_name;
		if (name == "." || name == "..")
			continue;
		unsigned char type = de->d_type;
		if (type == DT_UNKNOWN) {
			struct stat st;
			if (fstatat(dirfd(d), name.c_str(), &st,
				    AT_SYMLINK_NOFOLLOW) != 0)
				continue;
			type = S_ISDIR(st.st_mode)   ? DT_DIR
			       : S_ISLNK(st.st_mode) ? DT_LNK
			       : S_ISREG(st.st_mode) ? DT_REG
						     : DT_UNKNOWN;
		}
		const std::string path = prefix + name;
		*bytes += path.size();
		if (type == DT_DIR) {
			const int sub =
				openat(dirfd(d), name.c_str(),
				       O_RDONLY | O_DIRECTORY | O_NOFOLLOW |
					       O_CLOEXEC | O_NONBLOCK);
			if (no_descriptors(sub))
				continue;
			if (depth < max_depth)
				walk(sub, path + "/", depth + 1, entries, fds,
				     bytes);
			else
				close(sub);
			continue;
		}
		if (!driver_name(name))
			continue;
		if (type == DT_LNK) {
			entries.push_back({path, kind::link, 0});
			fds.push_back(-1);
			continue;
		}
		// A device is never opened: opening some (a tape) acts.
		if (type != DT_REG)
			continue;
		// A FIFO or a link swapped in since the listing cannot hold
		// root, nor lead it elsewhere.
		const int fd = openat(dirfd(d), name.c_str(),
				      O_RDONLY | O_NOFOLLOW | O_NONBLOCK |
					      O_CLOEXEC | O_NOCTTY);
		struct stat st;
		if (no_descriptors(fd) && errno != ELOOP)
			continue;
		if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
			entries.push_back({path, kind::regular, st.st_size});
			fds.push_back(fd);
			continue;
		}
		if (fd >= 0)
			close(fd);
		else if (errno == ELOOP)
			entries.push_back({path, kind::link, 0}),
				fds.push_back(-1);
	}
	closedir(d);
}

} // namespace

int
walk_folder(int dir, std::vector<entry> &entries, std::vector<int> &fds)
{
	size_t bytes = 0;
	const int own = fcntl(dir, F_DUPFD_CLOEXEC, 0);
	if (own >= 0)
		walk(own, "", 0, entries, fds, &bytes);
	if (entries.size() > max_listed || bytes > max_listed_bytes)
		return E2BIG;
	return out_of_descriptors;
}
