#include "records.h"

#include <cerrno>
#include <iterator>
#include <sys/uio.h>
#include <unistd.h>

const char *const reasons[] = {
	"file is not a DOS executable",
	"file is not a portable executable (PE)",
	"file header corrupted",
	"`.data' section not found",
	"`.data' section extends beyond end of file",
	"firmware start sequence not found",
};
const size_t nreasons = std::size(reasons);

bool
put_record(int fd, unsigned char type, const void *a, size_t alen,
	   const void *b, size_t blen)
{
	unsigned char head[record_header] = {type};
	put_le(head + 1, alen + blen, 4);
	const unsigned char *parts[] = {head,
					static_cast<const unsigned char *>(a),
					static_cast<const unsigned char *>(b)};
	size_t lens[] = {record_header, alen, blen};
	// Plain writes: the filter lets this descriptor be written, nothing
	// more.
	for (size_t i = 0; i < std::size(parts); i++) {
		while (lens[i] > 0) {
			const ssize_t n = write(fd, parts[i], lens[i]);
			if (n < 0 && errno == EINTR)
				continue;
			if (n <= 0)
				return false;
			parts[i] += n;
			lens[i] -= static_cast<size_t>(n);
		}
	}
	return true;
}
