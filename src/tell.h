#ifndef TOVRIN_FW_TELL_H
#define TOVRIN_FW_TELL_H

// What the rules made of a package or a folder, in words: each line a
// format and what fills it, which every front end puts in its reader's
// language as it is.  So the installer and the page say the same.

#include "rules.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct line {
	const char *msgid;
	const char *plural; // where n chooses the form; else nullptr
	uint64_t n;
	std::vector<std::string> args;
};

// What is said, the notes in order, and the end where there is one: the
// run stops there, refused.
struct told_lines {
	std::vector<line> notes;
	bool ends = false;
	line end{};
};

// A name from the package or the folder, as a terminal can show it: what
// is not UTF-8, and what would move or hide text, as '?'.
std::string shown(std::string_view path);

// n in decimal digits.
std::string decimal(uint64_t n);

// The links and the oversized left out; the end where no driver is left
// to read.  src is SOURCE as given; a folder's "none" says so.
told_lines tell_plan(const plan &p, const std::vector<entry> &entries,
		     std::string_view src, bool folder);

// The drivers without firmware, and the end where no driver holds any;
// drivers counts those the package holds, oversized ones too.  Where the
// images differ, each front end says so in its own way.
told_lines tell_verdict(const verdict &v, const std::vector<entry> &entries,
			const std::vector<located> &found, size_t drivers,
			std::string_view src);

// Where the drivers hold one image, and more than one driver holds it.
line same_image(uint64_t count, std::string_view src);

#endif
