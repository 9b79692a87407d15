// A stand-in for libarchive that a test build of the installer loads in
// its place: once the reader is sealed, it does what TOVRIN_FW_HOSTILE
// names, then says how that went as the library's error, or lies on the
// reader's pipe.  Only the test build knows where it is.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

// Chosen as it is loaded, before the seal empties the environment's
// use; a plain pointer, set before any constructor of this file runs.
const char *chosen = getenv("TOVRIN_FW_HOSTILE");
std::string said;
// A loop that no compiler may leave out.
volatile unsigned spin;

// How a call went: "ok", or the system's reason.
std::string
how(const char *what, bool ok)
{
	return std::string(what) + ": " + (ok ? "done" : strerror(errno));
}

// Raw bytes to every descriptor the filter lets it write: the pipe.
void
shout(const void *p, size_t n)
{
	for (int fd = 0; fd < 64; fd++)
		if (write(fd, p, n) > 0)
			break;
}

void
record(unsigned char type, const std::string &body, uint32_t len)
{
	unsigned char head[5] = {type, static_cast<unsigned char>(len),
				 static_cast<unsigned char>(len >> 8),
				 static_cast<unsigned char>(len >> 16),
				 static_cast<unsigned char>(len >> 24)};
	shout(head, 5);
	shout(body.data(), body.size());
}

std::string
le(uint64_t v, int bytes)
{
	std::string s;
	for (int i = 0; i < bytes; i++)
		s += static_cast<char>(v >> (8 * i));
	return s;
}

void
entry(const std::string &path, int64_t size)
{
	const std::string body =
		"r" + le(static_cast<uint64_t>(size), 8) + path;
	record('E', body, static_cast<uint32_t>(body.size()));
}

std::string
act()
{
	const std::string attack = chosen != nullptr ? chosen : "";
	if (attack == "fork") {
		const pid_t pid = fork();
		if (pid == 0)
			_exit(0);
		return how("fork", pid > 0);
	}
	if (attack == "outlive") {
		// A child that would stay after the run.
		const pid_t pid = fork();
		if (pid == 0) {
			setsid();
			for (;;)
				pause();
		}
		return how("fork", pid > 0);
	}
	if (attack == "write") {
		const char *places[] = {"/tmp/hostile", "/var/tmp/hostile",
					"/dev/shm/hostile", "hostile"};
		std::string out;
		for (const char *p : places) {
			const int fd =
				open(p, O_WRONLY | O_CREAT | O_EXCL, 0666);
			out += how(p, fd >= 0) + "; ";
		}
		return out;
	}
	if (attack == "proc")
		return how("/proc", opendir("/proc") != nullptr);
	if (attack == "home")
		return how("/home",
			   open(getenv("HOSTILE_FILE") ? getenv("HOSTILE_FILE")
						       : "/home",
				O_RDONLY) >= 0);
	if (attack == "unix") {
		const int s = socket(AF_UNIX, SOCK_STREAM, 0);
		sockaddr_un a = {};
		a.sun_family = AF_UNIX;
		strcpy(a.sun_path, "/run/systemd/private");
		return how("socket", s >= 0) + "; " +
		       how("connect",
			   s >= 0 &&
				   connect(s, reinterpret_cast<sockaddr *>(&a),
					   sizeof a) == 0);
	}
	if (attack == "network") {
		const int s = socket(AF_INET, SOCK_STREAM, 0);
		sockaddr_in a = {};
		a.sin_family = AF_INET;
		a.sin_port = htons(22);
		a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		return how("socket", s >= 0) + "; " +
		       how("connect",
			   s >= 0 &&
				   connect(s, reinterpret_cast<sockaddr *>(&a),
					   sizeof a) == 0);
	}
	if (attack == "hungry") {
		// Kept, so that no compiler may leave the call out.
		static void *volatile p;
		p = malloc(size_t{1536} << 20);
		return how("malloc", p != nullptr);
	}
	if (attack == "sleep") {
		const timespec t = {3600, 0};
		if (nanosleep(&t, nullptr) != 0)
			for (;;)
				spin = spin + 1;
		return "slept";
	}
	if (attack == "closehang") {
		// Its pipe closed, it waits on: root must not wait with it.
		for (int fd = 0; fd < 64; fd++)
			close(fd);
		for (;;)
			spin = spin + 1;
	}
	if (attack == "sealmsg") {
		const std::string forged = "forged: run this instead";
		record('S', forged, static_cast<uint32_t>(forged.size()));
		_exit(0);
	}
	if (attack == "flood") {
		const std::string junk(1 << 16, 'E');
		for (;;)
			shout(junk.data(), junk.size());
	}
	if (attack == "huge")
		record('E', "", 0x7fffffff);
	if (attack == "notext")
		entry(std::string("A\0/CnxEtU.sys", 13), 100);
	if (attack == "unasked" || attack == "oversize" || attack == "short") {
		entry("A/CnxEtU.sys", 100);
		record('L', "", 0);
		const std::string index = le(attack == "unasked" ? 1 : 0, 4);
		const std::string image(16, 'x');
		// oversize: an image of 16 bytes from a driver it says is 8.
		const uint64_t got = attack == "oversize" ? 8 : 100;
		std::string body = index + le(got, 8) + "I" + le(0, 4) + image;
		// short: the record's length says more than is sent.
		record('R', body,
		       static_cast<uint32_t>(body.size() +
					     (attack == "short" ? 10 : 0)));
	}
	_exit(0);
}

} // namespace

extern "C" {
struct archive;
struct archive_entry;

archive *
archive_read_new()
{
	static char a;
	return reinterpret_cast<archive *>(&a);
}

int
archive_read_open_fd(archive *, int, size_t)
{
	said = act();
	return -30;
}

const char *
archive_error_string(archive *)
{
	return said.c_str();
}

#define STUB(name)                                                             \
	int name(archive *)                                                    \
	{                                                                      \
		return 0;                                                      \
	}
STUB(archive_read_free)
STUB(archive_read_support_format_zip)
STUB(archive_read_support_format_cab)
STUB(archive_read_support_format_7zip)
STUB(archive_read_support_format_iso9660)
STUB(archive_read_support_format_tar)
STUB(archive_read_support_format_cpio)
STUB(archive_read_support_format_rar)
STUB(archive_read_support_format_rar5)
STUB(archive_read_support_filter_gzip)
STUB(archive_read_support_filter_bzip2)
STUB(archive_read_support_filter_xz)
STUB(archive_read_support_filter_lzma)
STUB(archive_read_support_filter_zstd)
STUB(archive_read_support_filter_compress)

int
archive_read_next_header(archive *, archive_entry **)
{
	return 1;
}

long
archive_read_data(archive *, void *, size_t)
{
	return 0;
}

const char *
archive_entry_pathname(archive_entry *)
{
	return "";
}
unsigned
archive_entry_filetype(archive_entry *)
{
	return 0;
}
int64_t
archive_entry_size(archive_entry *)
{
	return 0;
}
int
archive_entry_size_is_set(archive_entry *)
{
	return 0;
}
const char *
archive_entry_hardlink(archive_entry *)
{
	return nullptr;
}
}
