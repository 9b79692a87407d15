#include "say.h"

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

void (*at_end)();

namespace
{

// Under the C locale gettext keeps to English whatever LANGUAGE asks: it
// is not asked then, nor are its catalogs looked for.
bool english;

const char me[] = "tovrin-fw-install";

void
put(FILE *to, const std::string &text)
{
	fprintf(to, "%s: %s\n", me, text.c_str());
	fflush(to);
}

void
print(FILE *to, std::string_view format, words args)
{
	put(to, fill(format, args));
}

} // namespace

void
start_speaking()
{
	// The language and its characters: all that the messages need.
	setlocale(LC_CTYPE, "");
	const char *messages = setlocale(LC_MESSAGES, "");
	const std::string_view name = messages != nullptr ? messages : "C";
	english = name == "C" || name == "POSIX" || name.starts_with("C.");
	if (english)
		return;
	char exe[PATH_MAX];
	const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
	std::string here = ".";
	if (len > 0) {
		here.assign(exe, static_cast<size_t>(len));
		here.erase(here.rfind('/'));
	}
	struct stat st;
	std::string dir = here + "/../share/locale";
	if (stat(dir.c_str(), &st) != 0)
		dir = here + "/locale";
	bindtextdomain("tovrin-fw", dir.c_str());
	bind_textdomain_codeset("tovrin-fw", "UTF-8");
	textdomain("tovrin-fw");
}

const char *
_(const char *msgid)
{
	return english ? msgid : gettext(msgid);
}

const char *
__(const char *singular, const char *plural, uint64_t n)
{
	// ngettext takes an unsigned long: a count past it takes the form
	// of the largest.
	if (english)
		return n == 1 ? singular : plural;
	return ngettext(singular, plural,
			n > ULONG_MAX ? ULONG_MAX
				      : static_cast<unsigned long>(n));
}

namespace
{

template <class Args>
std::string
fill_in(std::string_view format, const Args &args)
{
	std::string out;
	auto arg = args.begin();
	for (size_t i = 0; i < format.size(); i++) {
		if (format[i] == '%' && i + 1 < format.size() &&
		    format[i + 1] == 's' && arg != args.end()) {
			out += *arg++;
			i++;
		} else {
			out += format[i];
		}
	}
	return out;
}

std::string
text(const line &l)
{
	return fill_in(l.plural != nullptr ? __(l.msgid, l.plural, l.n)
					   : _(l.msgid),
		       l.args);
}

} // namespace

std::string
fill(std::string_view format, words args)
{
	return fill_in(format, args);
}

std::string
num(int64_t n)
{
	return std::to_string(n);
}

void
say(const char *msgid, words args)
{
	print(stdout, _(msgid), args);
}

void
warn(const char *msgid, words args)
{
	print(stderr, _(msgid), args);
}

void
sayn(const char *singular, const char *plural, uint64_t n, words args)
{
	print(stdout, __(singular, plural, n), args);
}

void
warnn(const char *singular, const char *plural, uint64_t n, words args)
{
	print(stderr, __(singular, plural, n), args);
}

void
say_line(const line &l)
{
	put(stdout, text(l));
}

void
warn_line(const line &l)
{
	put(stderr, text(l));
}

void
die_line(const line &l)
{
	warn_line(l);
	if (at_end != nullptr)
		at_end();
	exit(1);
}

void
die(const char *msgid, words args)
{
	warn(msgid, args);
	if (at_end != nullptr)
		at_end();
	exit(1);
}

void
dien(const char *singular, const char *plural, uint64_t n, words args)
{
	warnn(singular, plural, n, args);
	if (at_end != nullptr)
		at_end();
	exit(1);
}
