#ifndef TOVRIN_FW_RECORDS_H
#define TOVRIN_FW_RECORDS_H

// What the reader says on its pipe: records of a type byte, a payload's
// length (32 bits, little-endian) and the payload.  Numbers in payloads
// are little-endian too, written and read byte by byte.
//
//   'E' an entry named CnxEtU.sys: kind (1), size (8, signed; -1 for
//       unknown), its path as the package names it (the rest)
//   'L' the listing is complete; the drivers follow
//   'R' a driver read: its number among the entries (4), the bytes it
//       unpacked to (8), 'I' offset (4) image (the rest) | 'N' reason (1)
//   'F' the package cannot be read: 'U' not a package, then the file is
//       read as the driver itself (its 'R' follows); 'D' damaged, with
//       the library's reason (the rest); 'M' out of memory

#include <cstddef>
#include <cstdint>

constexpr size_t record_header = 5;
// The largest payload of each kind: an image, and everything else.
constexpr size_t max_path = 4096;
constexpr size_t max_reason = 4096;

bool put_record(int fd, unsigned char type, const void *a, size_t alen,
		const void *b = nullptr, size_t blen = 0);

inline void
put_le(unsigned char *p, uint64_t v, int bytes)
{
	for (int i = 0; i < bytes; i++)
		p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline uint64_t
get_le(const unsigned char *p, int bytes)
{
	uint64_t v = 0;
	for (int i = 0; i < bytes; i++)
		v |= static_cast<uint64_t>(p[i]) << (8 * i);
	return v;
}

// The locator's reasons, which travel as their number in this table.
extern const char *const reasons[];
extern const size_t nreasons;

#endif
