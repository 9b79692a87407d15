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

namespace
{

// The length of the UTF-8 sequence at p (of at most n bytes) and its code
// point, or 0 where it is no such sequence.
size_t
decode(const unsigned char *p, size_t n, uint32_t &c)
{
	static const struct {
		unsigned char mask, lead;
		uint32_t least;
	} forms[] = {{0x80, 0x00, 0},
		     {0xe0, 0xc0, 0x80},
		     {0xf0, 0xe0, 0x800},
		     {0xf8, 0xf0, 0x10000}};
	for (size_t len = 1; len <= 4; len++) {
		const auto &f = forms[len - 1];
		if ((p[0] & f.mask) != f.lead)
			continue;
		if (len > n)
			return 0;
		c = p[0] & static_cast<unsigned char>(~f.mask);
		for (size_t i = 1; i < len; i++) {
			if ((p[i] & 0xc0) != 0x80)
				return 0;
			c = c << 6 | (p[i] & 0x3f);
		}
		const bool ok = c >= f.least && c <= 0x10ffff &&
				(c < 0xd800 || c > 0xdfff);
		return ok ? len : 0;
	}
	return 0;
}

// Characters that move or hide what a terminal shows: controls, C1
// controls, and the marks that reorder text.
bool
hiding(uint32_t c)
{
	return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x61c ||
	       c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) ||
	       (c >= 0x2066 && c <= 0x2069);
}

} // namespace

std::string
shown(std::string_view path)
{
	std::string out;
	const auto *p = reinterpret_cast<const unsigned char *>(path.data());
	for (size_t i = 0; i < path.size();) {
		uint32_t c = 0;
		const size_t len = decode(p + i, path.size() - i, c);
		if (len == 0 || hiding(c)) {
			out += '?';
			i += len == 0 ? 1 : len;
		} else {
			out.append(path.substr(i, len));
			i += len;
		}
	}
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
