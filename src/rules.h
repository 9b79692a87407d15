#ifndef TOVRIN_FW_RULES_H
#define TOVRIN_FW_RULES_H

// What counts as a driver among the entries of a vendor's package or a
// folder, and how what the locator made of each is told: which drivers
// are read, which left out, which images are the same.  Plain data in,
// plain data out, so that every front end gives the same answer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Real drivers are well under 1 MiB and real packages hold a handful: a
// larger CnxEtU.sys, more drivers in all, or more of them, are damaged or
// hostile, and are refused before anything is read.
constexpr int64_t max_driver = 16 * 1024 * 1024;
constexpr int64_t max_total = 64 * 1024 * 1024;
constexpr size_t max_listed = 10000;
constexpr size_t max_listed_bytes = 1024 * 1024; // of their paths
// Of many lines alike, the first few are said, then how many more.
constexpr size_t few = 3;

enum class kind { regular, link, other };

// An entry named CnxEtU.sys, as the package or the folder names it; size
// is -1 where the package does not say.
struct entry {
	std::string path;
	enum kind kind;
	int64_t size;
};

// Whether the last component of path is CnxEtU.sys, in any letter case.
bool driver_name(std::string_view path);

// How many of count lines alike are said: all, where one more would only
// stand for one line.
size_t told(size_t count);

// Which entries are read as drivers.  Each list holds indices into the
// entries, in the order they are told: by path, byte for byte.
struct plan {
	enum result {
		go,         // read drivers
		none,       // no regular CnxEtU.sys at all
		none_small, // every one is larger than any driver
		too_much,   // the drivers come to more than max_total
	} outcome;
	std::vector<size_t> links;
	std::vector<size_t> oversized;
	std::vector<size_t> drivers;
	int64_t total; // of drivers, an unknown size counted as max_driver
};
// With only, the entry of that path alone counts, as if no other were
// there: the owner's choice among drivers that differ.
plan plan_drivers(const std::vector<entry> &entries,
		  std::string_view only = {});

// What a package's driver unpacked to, against the size the package
// states (an unknown one is the bound): more is a lie, less a package cut
// short.
enum class unpacked { as_stated, more, less };
unpacked unpacked_to(const entry &e, int64_t got);

// What the locator made of one driver.
struct located {
	size_t entry;
	bool image;
	uint32_t offset, size;   // of the image in the driver
	std::string sum;         // the image's SHA-256
	std::string_view reason; // why there is none
};

// One image and the drivers that hold it.
struct image {
	size_t first; // into the located, the first driver that holds it
	size_t count;
};

// The located drivers told apart: those without an image, and each
// different image once, both by the path of their first driver.
struct verdict {
	std::vector<size_t> without; // into the located
	std::vector<image> images;
};
verdict judge(const std::vector<entry> &entries,
	      const std::vector<located> &found);

#endif
