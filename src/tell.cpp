#include "tell.h"

namespace
{

// A line, marked for the translators' catalog.
line
said(const char *msgid, std::vector<std::string> args = {})
{
	return {msgid, nullptr, 0, std::move(args)};
}

line
saidn(const char *singular, const char *plural, uint64_t n,
      std::vector<std::string> args)
{
	return {singular, plural, n, std::move(args)};
}

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

std::string
decimal(uint64_t n)
{
	// Not std::to_string: in WebAssembly it would bring printf along.
	char digits[20];
	size_t i = sizeof digits;
	do
		digits[--i] = static_cast<char>('0' + n % 10);
	while ((n /= 10) != 0);
	return {digits + i, sizeof digits - i};
}

// The bounds as the messages say them.
static_assert(max_driver == 16 << 20 && max_total == 64 << 20);

told_lines
tell_plan(const plan &p, const std::vector<entry> &entries,
	  std::string_view src, bool folder)
{
	told_lines t;
	const std::string s(src);
	// A link is no driver: it is never followed.
	for (size_t k = 0; k < told(p.links.size()); k++)
		t.notes.push_back(said("`%s' in `%s' is a symbolic link, not a "
				       "driver: left out",
				       {shown(entries[p.links[k]].path), s}));
	if (p.links.size() > told(p.links.size()))
		t.notes.push_back(saidn("%s more CnxEtU.sys in `%s' is a "
					"symbolic link: left out",
					"%s more CnxEtU.sys in `%s' are "
					"symbolic links: left out",
					p.links.size() - few,
					{decimal(p.links.size() - few), s}));
	for (size_t k = 0; k < told(p.oversized.size()); k++) {
		const entry &e = entries[p.oversized[k]];
		const auto size = static_cast<uint64_t>(e.size);
		// TRANSLATORS: a driver's path in the package; SOURCE as
		// given; the driver's size.
		t.notes.push_back(saidn("`%s' in `%s' is %s byte, larger than "
					"any driver (16 MiB "
					"at most): left out",
					"`%s' in `%s' is %s bytes, larger than "
					"any driver (16 MiB "
					"at most): left out",
					size,
					{shown(e.path), s, decimal(size)}));
	}
	if (p.oversized.size() > told(p.oversized.size()))
		t.notes.push_back(saidn(
			"%s more CnxEtU.sys in `%s' is larger than any driver: "
			"left out",
			"%s more CnxEtU.sys in `%s' are larger than any "
			"driver: "
			"left out",
			p.oversized.size() - few,
			{decimal(p.oversized.size() - few), s}));
	t.ends = p.outcome != plan::go;
	if (p.outcome == plan::none)
		t.end = folder ? said("no CnxEtU.sys in `%s' (read as a "
				      "folder)",
				      {s})
			       : said("no CnxEtU.sys in `%s' (read as a "
				      "package)",
				      {s});
	if (p.outcome == plan::none_small)
		t.end = said("no CnxEtU.sys in `%s' is small enough to be a "
			     "driver",
			     {s});
	if (p.outcome == plan::too_much)
		// TRANSLATORS: SOURCE as given; what its drivers come to, in
		// bytes.
		t.end = saidn("the drivers in `%s' come to %s byte, more than "
			      "any package holds (64 MiB at most): refused",
			      "the drivers in `%s' come to %s bytes, more than "
			      "any package holds (64 MiB at most): refused",
			      static_cast<uint64_t>(p.total),
			      {s, decimal(static_cast<uint64_t>(p.total))});
	return t;
}

told_lines
tell_verdict(const verdict &v, const std::vector<entry> &entries,
	     const std::vector<located> &found, size_t drivers,
	     std::string_view src)
{
	told_lines t;
	const std::string s(src);
	// Those without an image, the first few said with the locator's
	// reason; a fourth that is the last, too.
	for (size_t k = 0; k < told(v.without.size()); k++) {
		const located &l = found[v.without[k]];
		// TRANSLATORS: a driver's path; the locator's reason, in
		// English.
		t.notes.push_back(said(
			"no firmware in `%s': %s",
			{shown(entries[l.entry].path), std::string(l.reason)}));
	}
	if (v.without.size() > told(v.without.size()))
		t.notes.push_back(saidn("%s more driver holds no firmware",
					"%s more drivers hold no firmware",
					v.without.size() - few,
					{decimal(v.without.size() - few)}));
	t.ends = v.images.empty();
	if (t.ends && drivers == 1)
		t.end = said("the one driver in `%s' holds no firmware", {s});
	else if (t.ends)
		// TRANSLATORS: %s is at least 2 (one driver has the message
		// above): every form says "none of them".
		t.end = saidn(
			"none of the %s drivers in `%s' holds the firmware",
			"none of the %s drivers in `%s' holds the firmware",
			drivers, {decimal(drivers), s});
	return t;
}

line
same_image(uint64_t count, std::string_view src)
{
	return saidn("%s driver in `%s' holds the same image",
		     "%s drivers in `%s' hold the same image", count,
		     {decimal(count), std::string(src)});
}
