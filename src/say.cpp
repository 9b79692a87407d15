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

const char me[] = "tovrin-fw-install";

void
line(FILE *to, std::string_view format, words args)
{
	const std::string text = fill(format, args);
	fprintf(to, "%s: %s\n", me, text.c_str());
	fflush(to);
}

} // namespace

void
start_speaking()
{
	// The language and its characters: all that the messages need.
	setlocale(LC_CTYPE, "");
	setlocale(LC_MESSAGES, "");
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
	return gettext(msgid);
}

const char *
__(const char *singular, const char *plural, uint64_t n)
{
	// ngettext takes an unsigned long: a count past it takes the form
	// of the largest.
	return ngettext(singular, plural,
			n > ULONG_MAX ? ULONG_MAX
				      : static_cast<unsigned long>(n));
}

std::string
fill(std::string_view format, words args)
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
num(int64_t n)
{
	return std::to_string(n);
}

std::string
shown(std::string_view path)
{
	std::string out(path);
	for (char &c : out)
		if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
			c = '?';
	return out;
}

void
say(const char *msgid, words args)
{
	line(stdout, _(msgid), args);
}

void
warn(const char *msgid, words args)
{
	line(stderr, _(msgid), args);
}

void
sayn(const char *singular, const char *plural, uint64_t n, words args)
{
	line(stdout, __(singular, plural, n), args);
}

void
warnn(const char *singular, const char *plural, uint64_t n, words args)
{
	line(stderr, __(singular, plural, n), args);
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
