#include "listen.h"
#include "records.h"
#include "seal.h"
#include "sha256.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

pid_t reader_pid;

namespace
{

int64_t
now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

// Reads n bytes within the deadline: 1, or 0 at the end of the pipe, or
// -1 when the clock ran out.
int
take(int fd, unsigned char *p, size_t n, int64_t deadline)
{
	while (n > 0) {
		const int64_t left = deadline - now_ms();
		pollfd pfd = {fd, POLLIN, 0};
		if (left <= 0)
			return -1;
		const int ready = poll(&pfd, 1, static_cast<int>(left));
		if (ready < 0 && errno == EINTR)
			continue;
		if (ready == 0)
			return -1;
		const ssize_t got = read(fd, p, n);
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			return 0;
		p += got;
		n -= static_cast<size_t>(got);
	}
	return 1;
}

// No NUL, and within its bound: what a path or a reason may be.
bool
text(std::string_view s, size_t bound)
{
	return s.size() <= bound && s.find('\0') == std::string_view::npos;
}

// The payloads each type may have, at least and at most.
bool
in_bounds(unsigned char type, size_t len)
{
	switch (type) {
	case 'E':
		return len >= 9 && len <= 9 + max_path;
	case 'L':
		return len == 0;
	case 'R':
		return len >= 14 && len <= 17 + max_driver;
	case 'F':
		return len >= 1 && len <= 1 + max_reason;
	default:
		return false;
	}
}

struct listener {
	const reading &r;
	answer a;
	std::vector<size_t> expected; // entries still to be answered
	int64_t limit(size_t i) const
	{
		const int64_t size =
			r.kind == reading::folder ? (*r.entries)[i].size
			: r.kind == reading::package && a.failed != 'U'
				? a.listing[i].size
				: r.size;
		return (size < 0 ? max_driver : size) + 1;
	}
	// A record taken in, or why it is a lie.
	size_t listed_bytes = 0;
	const char *take_in(unsigned char type, std::string &body);
};

const char *
listener::take_in(unsigned char type, std::string &body)
{
	const auto *p = reinterpret_cast<const unsigned char *>(body.data());
	switch (type) {
	case 'E': {
		if (r.kind != reading::package || a.listed || a.failed)
			return "an entry out of turn";
		const std::string path = body.substr(9);
		if (!text(path, max_path) || !driver_name(path))
			return "a path it was not given";
		const kind k = p[0] == 'r'   ? kind::regular
			       : p[0] == 'l' ? kind::link
					     : kind::other;
		const auto size = static_cast<int64_t>(get_le(p + 1, 8));
		if ((p[0] != 'r' && p[0] != 'l' && p[0] != 'o') || size < -1)
			return "an entry of no kind";
		listed_bytes += path.size();
		if (a.listing.size() == max_listed ||
		    listed_bytes > max_listed_bytes)
			return "more CnxEtU.sys than any package holds";
		a.listing.push_back({path, k, size});
		return nullptr;
	}
	case 'L': {
		if (r.kind != reading::package || a.listed || a.failed)
			return "a listing out of turn";
		a.listed = true;
		const plan pl = plan_drivers(a.listing, r.only);
		if (pl.outcome == plan::go)
			expected = pl.drivers;
		return nullptr;
	}
	case 'F':
		if (a.failed != 0 ||
		    (p[0] != 'U' && p[0] != 'D' && p[0] != 'M'))
			return "a failure out of turn";
		if (p[0] == 'U' && (r.kind != reading::package || a.listed ||
				    !a.listing.empty()))
			return "a failure out of turn";
		a.failed = static_cast<char>(p[0]);
		a.why = body.substr(1);
		if (!text(a.why, max_reason))
			return "a reason not text";
		if (a.failed == 'U' && r.size <= max_driver)
			expected = {0};
		else
			expected.clear();
		return nullptr;
	case 'R':
		break;
	}
	const size_t i = static_cast<size_t>(get_le(p, 4));
	const auto got = static_cast<int64_t>(get_le(p + 4, 8));
	const auto at = std::find(expected.begin(), expected.end(), i);
	if (at == expected.end())
		return "an image for a driver it was not given";
	expected.erase(at);
	if (got < 0 || got > limit(i))
		return "more bytes than its driver could unpack to";
	located l{i, false, 0, 0, {}, {}};
	int err = 0;
	if (p[12] == 'N' && body.size() == 14) {
		if (p[13] >= nreasons && got <= max_driver)
			return "a reason the locator has not";
		l.reason = p[13] < nreasons ? reasons[p[13]] : "";
	} else if (p[12] == 'E' && body.size() == 17) {
		err = static_cast<int>(get_le(p + 13, 4));
		if (err <= 0 || err > 4095)
			return "a reason not text";
	} else if (p[12] == 'I' && body.size() >= 17) {
		l.image = true;
		l.offset = static_cast<uint32_t>(get_le(p + 13, 4));
		l.size = static_cast<uint32_t>(body.size() - 17);
		if (uint64_t{l.offset} + l.size > static_cast<uint64_t>(got) ||
		    l.size == 0)
			return "an image larger than its driver";
		char sum[65];
		sha256_hex(p + 17, l.size, sum);
		l.sum = sum;
		// One image is kept: root installs it only if no other
		// differs.
		bool first = true;
		for (const located &o : a.found)
			if (o.image) {
				first = false;
				if (o.sum != l.sum)
					a.images_differ = true;
			}
		if (first)
			a.image = std::move(body.erase(0, 17));
		if (a.images_differ)
			a.image.clear(), a.image.shrink_to_fit();
	} else {
		return "an answer of no kind";
	}
	a.found.push_back(l);
	a.got.push_back(got);
	a.errors.push_back(err);
	return nullptr;
}

std::string
signal_name(int sig)
{
	const char *abbrev = sigabbrev_np(sig);
	return abbrev != nullptr ? std::string("SIG") + abbrev
				 : "signal " + std::to_string(sig);
}

// Whether the reader said all it was asked: each driver answered, after
// the listing of a package, or why it could not.
bool
complete(const listener &l, const reading &r)
{
	if (l.a.failed == 'M')
		return false;
	if (l.a.failed != 0)
		return l.expected.empty();
	return l.expected.empty() && (r.kind != reading::package || l.a.listed);
}

// Whether the reader has ended within the deadline; after its pipe's
// end it has nothing left to do, and may not wait on.
bool
ended(pid_t pid, int64_t deadline)
{
	const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
	if (fd < 0)
		return false;
	pollfd pfd = {fd, POLLIN, 0};
	int ready;
	do {
		const int64_t left = std::max<int64_t>(deadline - now_ms(), 0);
		ready = poll(&pfd, 1, static_cast<int>(left));
	} while (ready < 0 && errno == EINTR);
	close(fd);
	return ready > 0;
}

} // namespace

answer
listen(const reading &r, bool root)
{
	listener l{r, {}, {}};
	// The answer on one pipe; on the other, before the seal, why it
	// could not be made: a sealed reader cannot write there.
	int p[2], sealed[2];
	if (pipe2(p, O_CLOEXEC) != 0 || pipe2(sealed, O_CLOEXEC) != 0) {
		l.a.unsealed = std::string("pipe: ") + strerror(errno);
		return std::move(l.a);
	}
	if (r.kind == reading::folder)
		l.expected = *r.drivers;
	else if (r.kind == reading::driver)
		l.expected = {0};
	const pid_t pid = spawn_reader(root);
	if (pid < 0) {
		l.a.unsealed = std::string("clone: ") + strerror(errno);
		return std::move(l.a);
	}
	if (pid == 0) {
		close(p[0]);
		close(sealed[0]);
		prepare_reader(r);
		std::vector<int> keep = {p[1], sealed[1]};
		if (r.kind == reading::folder) {
			for (size_t i : *r.drivers)
				keep.push_back((*r.fds)[i]);
		} else {
			keep.push_back(r.source);
		}
		std::sort(keep.begin(), keep.end());
		errno = 0;
		if (const char *why =
			    seal(root, keep.data(), keep.size(), p[1])) {
			std::string said = why;
			if (errno != 0)
				said = said + ": " + strerror(errno);
			if (write(sealed[1], said.data(), said.size()) < 0)
				_exit(1);
			_exit(0);
		}
		close(sealed[1]);
		run_reader(r, p[1]);
	}
	reader_pid = pid;
	close(p[1]);
	close(sealed[1]);

	const int64_t deadline = now_ms() + TOVRIN_FW_READER_SECONDS * 1000;
	bool kill_it = false;
	// Nothing on the seal's pipe, and its end: sealed.
	unsigned char why[max_reason];
	size_t said = 0;
	int got;
	while (said < sizeof why &&
	       (got = take(sealed[0], why + said, 1, deadline)) == 1)
		said++;
	close(sealed[0]);
	if (said > 0) {
		l.a.unsealed.assign(reinterpret_cast<char *>(why), said);
		kill_it = true;
	} else if (got < 0) {
		l.a.stopped = "no answer in " +
			      std::to_string(TOVRIN_FW_READER_SECONDS) + " s";
		kill_it = true;
	}
	while (!kill_it) {
		unsigned char head[record_header];
		got = take(p[0], head, sizeof head, deadline);
		if (got == 1) {
			const size_t len =
				static_cast<size_t>(get_le(head + 1, 4));
			if (!in_bounds(head[0], len)) {
				l.a.stopped = "a record out of bounds";
				kill_it = true;
				break;
			}
			std::string body(len, '\0');
			got = take(
				p[0],
				reinterpret_cast<unsigned char *>(body.data()),
				len, deadline);
			if (got == 1) {
				if (const char *lie =
					    l.take_in(head[0], body)) {
					l.a.stopped = lie;
					kill_it = true;
				}
				continue;
			}
		}
		if (got == 0 && complete(l, r)) {
			// All it was asked: its end, whatever it now does, is
			// the kernel's to finish while root installs.
			close(p[0]);
			kill(pid, SIGKILL);
			waitpid(pid, nullptr, WNOHANG);
			reader_pid = 0;
			return std::move(l.a);
		}
		if (got < 0 || !ended(pid, deadline)) {
			l.a.stopped = "no answer in " +
				      std::to_string(TOVRIN_FW_READER_SECONDS) +
				      " s";
			kill_it = true;
		}
		break;
	}
	close(p[0]);
	if (kill_it)
		kill(pid, SIGKILL);
	int status;
	rusage ru = {};
	while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR)
		;
	reader_pid = 0;
	reader_ended();
	if (!l.a.stopped.empty() || !l.a.unsealed.empty())
		return std::move(l.a);
	if (WIFSIGNALED(status)) {
		l.a.stopped = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec >=
					      reader_cpu_seconds
				      ? std::string("out of CPU time")
				      : signal_name(WTERMSIG(status));
	} else if (WEXITSTATUS(status) != 0) {
		l.a.stopped =
			"exit status " + std::to_string(WEXITSTATUS(status));
	} else if (l.a.failed == 'M') {
		l.a.stopped = l.a.why.empty() ? "out of memory" : l.a.why;
	} else if (!complete(l, r)) {
		l.a.stopped = "an answer cut short";
	}
	return std::move(l.a);
}
