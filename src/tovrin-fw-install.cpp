// tovrin-fw-install: from the vendor's driver package to the installed
// firmware in one step, offline.  Root opens SOURCE; a sealed reader
// reads it and runs the locator on every CnxEtU.sys; root judges what the
// reader says, and installs the one image they hold as DIR/tovrin-fw.bin.
#include "archive.h"
#include "listen.h"
#include "put.h"
#include "rules.h"
#include "say.h"
#include "seal.h"
#include "walk.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef TOVRIN_FW_VERSION
#define TOVRIN_FW_VERSION "002"
#endif

namespace
{

const char me[] = "tovrin-fw-install";
const char page[] = "tovrin-fw-" TOVRIN_FW_VERSION ".html";
const char default_dir[] = "/lib/firmware";

struct options {
	const char *dir = default_dir;
	const char *driver = "";
	bool force = false;
	const char *source = nullptr;
};

[[noreturn]] void
usage()
{
	// TRANSLATORS: %s is the program's name, tovrin-fw-install.
	fprintf(stderr, "%s\n",
		fill(_("Usage: %s [--firmware-dir DIR] [--force] [--driver "
		       "PATH] SOURCE"),
		     {me})
			.c_str());
	fprintf(stderr, "%s\n",
		fill(_("Try `%s --help' for more information."), {me}).c_str());
	exit(64);
}

// The help, a paragraph at a time, each its own message.
void
help()
{
	const std::string paragraphs[] = {
		fill(_("Usage: %s [--firmware-dir DIR] [--force] [--driver "
		       "PATH] SOURCE"),
		     {me}),
		_("Install the firmware of Conexant AccessRunner ADSL USB "
		  "modems from the\n"
		  "modem's Windows driver package, for the kernel's firmware "
		  "loader."),
		_("SOURCE - the vendor's package (zip, cabinet, "
		  "self-extracting .exe, 7-Zip,\n"
		  "ISO image), the CD drive, a folder (a mounted CD, an "
		  "unpacked package), or\n"
		  "the driver CnxEtU.sys itself"),
		fill(_("The image goes to DIR/tovrin-fw.bin, mode 0644, where "
		       "the kernel's firmware\n"
		       "loader finds it (DIR is /lib/firmware unless "
		       "--firmware-dir says otherwise).\n"
		       "Packages are read with libarchive (package "
		       "libarchive13, or libarchive13t64\n"
		       "on Debian 13); a folder or the driver itself needs "
		       "nothing more.  For a\n"
		       "computer without a network, fetch that package's .deb "
		       "with apt-get download\n"
		       "on another computer of the same Debian release and "
		       "architecture, copy it\n"
		       "over and install it with dpkg -i; or take the firmware "
		       "out with the offline\n"
		       "page %s on any computer."),
		     {page}),
		_("Options:\n"
		  "  --firmware-dir DIR   install into DIR (default "
		  "/lib/firmware)\n"
		  "  --force              replace a DIR/tovrin-fw.bin that "
		  "holds another image\n"
		  "  --driver PATH        use the CnxEtU.sys at PATH in "
		  "SOURCE, where they differ\n"
		  "  --help               give this help list\n"
		  "  --version            print program version"),
		// TRANSLATORS: %s is the address to write to, in angle
		// brackets.
		fill(_("Report bugs to %s."),
		     {"<tovrin-fw-general at lists dot example dot org>"}),
	};
	for (size_t i = 0; i < std::size(paragraphs); i++)
		printf(i == 0 ? "%s\n" : "%s\n\n", paragraphs[i].c_str());
}

// The command line, as the shell's own utilities take it.
options
parse_opts(int argc, char **argv)
{
	options o;
	int i = 1;
	for (; i < argc; i++) {
		const std::string_view a = argv[i];
		if (a == "--help") {
			help();
			exit(0);
		} else if (a == "--version") {
			printf("%s\n", TOVRIN_FW_VERSION);
			exit(0);
		} else if (a == "--force") {
			o.force = true;
		} else if (a.starts_with("--firmware-dir=")) {
			o.dir = argv[i] + strlen("--firmware-dir=");
		} else if (a == "--firmware-dir" || a == "--driver") {
			if (i + 1 >= argc)
				usage();
			(a == "--driver" ? o.driver : o.dir) = argv[++i];
		} else if (a.starts_with("--driver=")) {
			o.driver = argv[i] + strlen("--driver=");
		} else if (a == "--") {
			i++;
			break;
		} else if (a.size() > 1 && a[0] == '-') {
			warn("unrecognized option `%s'", {a});
			usage();
		} else {
			break;
		}
	}
	if (argc - i != 1 || argv[i][0] == '\0' || o.dir[0] == '\0')
		usage();
	o.source = argv[i];
	return o;
}

void
on_signal(int sig)
{
	if (reader_pid > 0)
		kill(reader_pid, SIGKILL);
	reader_ended();
	put_cleanup();
	signal(sig, SIG_DFL);
	raise(sig);
}

// Each kind of SOURCE its own message, named by what reads it: the
// library for a package, the locator for a folder's drivers or a driver.
[[noreturn]] void
stopped(const reading &r, const std::string &src, const std::string &how)
{
	// TRANSLATORS: SOURCE as given; why its reader was stopped (in
	// English).
	if (r.kind == reading::package)
		die("libarchive was stopped while reading the package `%s' "
		    "(%s): it is damaged or malicious; fetch or copy it again",
		    {src, shown(how)});
	if (r.kind == reading::folder)
		die("tovrin-fw was stopped while reading the drivers in the "
		    "folder `%s' (%s): one of them is damaged or malicious; "
		    "copy the folder again",
		    {src, shown(how)});
	die("tovrin-fw was stopped while reading the file `%s' (%s): it is "
	    "damaged or malicious; fetch or copy it again",
	    {src, shown(how)});
}

[[noreturn]] void
damaged(const std::string &src, const std::string &why)
{
	// TRANSLATORS: SOURCE as given, a package file (say "the file `%s'"
	// where a word must agree with it); in the first, the library's
	// reasons, in English, separated by semicolons.
	if (!why.empty())
		die("`%s' is damaged or cut short (%s): fetch or copy it again",
		    {src, shown(why)});
	die("`%s' is damaged or cut short (libarchive could not read all of "
	    "it): fetch or copy it again",
	    {src});
}

// The rules' notes, and their end where there is one.
void
tell(const told_lines &t)
{
	for (const line &l : t.notes)
		warn_line(l);
	if (t.ends)
		die_line(t.end);
}

} // namespace

int
main(int argc, char **argv)
{
	start_speaking();
	const options o = parse_opts(argc, argv);
	const std::string src = o.source;
	const bool root = geteuid() == 0;
	at_end = put_cleanup;
	for (int sig : {SIGHUP, SIGINT, SIGTERM})
		signal(sig, on_signal);
	// A write past a file-size limit, or to a closed pipe, fails: the run
	// then ends in its own words, and removes what it made.
	signal(SIGXFSZ, SIG_IGN);
	signal(SIGPIPE, SIG_IGN);
	// A folder's drivers are each held open for the reader.
	rlimit files;
	if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
		files.rlim_cur = files.rlim_max;
		setrlimit(RLIMIT_NOFILE, &files);
	}

	const int fd =
		open(o.source, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
	if (fd < 0 && errno == ENOENT)
		die("cannot read `%s': No such file or directory", {src});
	if (fd < 0 && errno == EACCES)
		die("cannot read `%s': Permission denied", {src});
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0)
		// TRANSLATORS: SOURCE as given; the system's reason, in
		// English, or the message below.
		die("cannot read `%s': %s", {src, strerror(errno)});

	reading r{reading::driver, nullptr, fd,      st.st_size,
		  nullptr,         nullptr, nullptr, o.driver};
	std::vector<entry> entries;
	std::vector<int> fds;
	plan p{};
	const bool folder = S_ISDIR(st.st_mode);
	if (folder) {
		r.kind = reading::folder;
		const int err = walk_folder(fd, entries, fds);
		if (err == E2BIG)
			die("cannot read `%s': it holds more CnxEtU.sys than "
			    "any "
			    "package",
			    {src});
		if (err != 0)
			die("cannot read `%s': %s", {src, strerror(err)});
		p = plan_drivers(entries, o.driver);
		tell(tell_plan(p, entries, src, true));
		for (size_t i = 0; i < fds.size(); i++)
			if (fds[i] >= 0 &&
			    std::find(p.drivers.begin(), p.drivers.end(), i) ==
				    p.drivers.end())
				close(fds[i]), fds[i] = -1;
		r.entries = &entries;
		r.fds = &fds;
		r.drivers = &p.drivers;
	} else {
		// Blocking reads from here: a FIFO has a writer or ends.
		fcntl(fd, F_SETFL, 0);
		r.lib = load_libarchive();
		// An empty file is no package, though libarchive reads it as
		// one that holds nothing.
		if (r.lib != nullptr &&
		    (st.st_size > 0 || !S_ISREG(st.st_mode)))
			r.kind = reading::package;
		if (!S_ISREG(st.st_mode))
			r.size = -1;
	}

	// The driver itself, too large, is no driver: it is not read.
	bool oversized = r.kind == reading::driver && r.size > max_driver;
	answer a;
	if (!oversized)
		a = listen(r, root);
	if (!a.unsealed.empty())
		// TRANSLATORS: SOURCE as given; why the reader could not be
		// sealed (the system's words, in English); a command to run
		// as a user; a command to run as root.  Nothing is read as
		// root: the rights could not be dropped.
		die("cannot read `%s': its reader could not give up root's "
		    "rights (%s), and nothing is read with them; run %s as a "
		    "user, then %s as root",
		    {src, shown(a.unsealed),
		     std::string(me) + " --firmware-dir ~/fw SOURCE",
		     "install -D -m 0644 ~/fw/tovrin-fw.bin " +
			     std::string(o.dir) + "/tovrin-fw.bin"});
	if (!a.stopped.empty())
		stopped(r, src, a.stopped);
	if (a.failed == 'U') {
		r.kind = reading::driver;
		oversized = r.size > max_driver;
	}
	if (r.kind == reading::package) {
		if (a.failed == 'D' && !a.listed)
			damaged(src, a.why);
		entries = std::move(a.listing);
		p = plan_drivers(entries, o.driver);
		tell(tell_plan(p, entries, src, false));
		if (a.failed == 'D')
			damaged(src, a.why);
	}
	if (r.kind == reading::driver) {
		entries = {{src, kind::regular, r.size}};
		p = plan_drivers(entries);
	}

	// What each driver unpacked to: what the package or the folder said.
	for (size_t k = 0; k < a.found.size(); k++) {
		const entry &e = entries[a.found[k].entry];
		if (a.errors[k] != 0)
			die("cannot read `%s': %s",
			    {src, strerror(a.errors[k])});
		if (r.kind == reading::folder && a.got[k] != e.size)
			die("cannot read the folder `%s': a CnxEtU.sys in it "
			    "changed while being read; try again",
			    {src});
		const unpacked u = r.kind == reading::package
					   ? unpacked_to(e, a.got[k])
					   : unpacked::as_stated;
		if (u == unpacked::more)
			die("`%s' is damaged: a CnxEtU.sys in it unpacks to "
			    "more than the package says it holds; fetch or "
			    "copy it again",
			    {src});
		if (u == unpacked::less)
			damaged(src, "");
	}

	const verdict v = judge(entries, a.found);
	static_assert(max_driver == 16 << 20, "the messages say 16 MiB");
	if (oversized)
		// TRANSLATORS: SOURCE itself, a file too large to be a
		// driver; its size.
		warnn("no firmware in `%s': at %s byte, it is larger than any "
		      "driver (16 MiB at most)",
		      "no firmware in `%s': at %s bytes, it is larger than any "
		      "driver (16 MiB at most)",
		      static_cast<uint64_t>(r.size), {src, num(r.size)});
	const size_t drivers = p.drivers.size() + p.oversized.size();
	const told_lines t = tell_verdict(v, entries, a.found, drivers, src);
	for (const line &l : t.notes)
		warn_line(l);
	if (t.ends) {
		if (r.kind == reading::driver && r.lib == nullptr)
			die("`%s' is not a driver; if it is the vendor's "
			    "package, "
			    "libarchive is needed to read it: install "
			    "libarchive13 (without network, see %s --help), or "
			    "take the firmware out with the offline page %s on "
			    "any computer",
			    {src, me, page});
		if (r.kind == reading::driver)
			die("`%s' is neither a package that libarchive can "
			    "read nor a driver",
			    {src});
		die_line(t.end);
	}

	// Different images: each once, with how many drivers hold it.
	if (v.images.size() > 1) {
		warn("the drivers in `%s' hold different images:", {src});
		for (size_t k = 0; k < told(v.images.size()); k++) {
			const located &l = a.found[v.images[k].first];
			// TRANSLATORS: under "the drivers in `%s' hold
			// different images:", a driver's path, its image's
			// size and the image's SHA-256.
			fprintf(stderr, "    %s\n",
				fill(__("%s: %s byte, SHA-256 %s",
					"%s: %s bytes, SHA-256 %s", l.size),
				     {shown(entries[l.entry].path), num(l.size),
				      l.sum})
					.c_str());
			const size_t more = v.images[k].count - 1;
			if (more > 0)
				fprintf(stderr, "      %s\n",
					// TRANSLATORS: under an image's line,
					// how many more drivers hold that
					// image.
					fill(__("the same in %s more driver",
						"the same in %s more drivers",
						more),
					     {num(static_cast<int64_t>(more))})
						.c_str());
		}
		if (v.images.size() > told(v.images.size()))
			// TRANSLATORS: under the first three images' lines,
			// how many more images there are; %s is a number of
			// at least 2.
			fprintf(stderr, "    %s\n",
				fill(__("and %s more", "and %s more",
					v.images.size() - few),
				     {num(static_cast<int64_t>(v.images.size() -
							       few))})
					.c_str());
		if (r.kind == reading::folder)
			die("pick one: give its path in `%s' as SOURCE", {src});
		die("pick one: give its path with --driver PATH", {});
	}

	const located &first = a.found[v.images[0].first];
	const uint64_t holding = v.images[0].count;
	if (holding > 1)
		say_line(same_image(holding, src));
	const std::string path = shown(entries[first.entry].path);
	if (r.kind == reading::driver)
		say("using `%s'", {path});
	else
		say("using `%s' from `%s'", {path, src});
	printf("found firmware in `%s' at offset %#x\n", path.c_str(),
	       first.offset);
	fflush(stdout);
	// Only the default's failures are a user's missing rights.
	put_image(o.dir, a.image, o.force,
		  !root && strcmp(o.dir, default_dir) == 0);
	return 0;
}
