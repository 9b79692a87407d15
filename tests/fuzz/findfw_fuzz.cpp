// Feeds findfw arbitrary driver files under ASan and UBSan, and checks
// what must hold for every input against a second, deliberately plain
// reading of the headers.  Every way of the byte search is held against
// memmem on the same bytes too.

#include "find16.h"
#include "findfw.h"
#include "markers.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace
{

uint64_t
le(const uint8_t *p, int n)
{
	uint64_t v = 0;
	while (n-- > 0)
		v = v << 8 | p[n];
	return v;
}

// The .data section's bytes as [*from, *to), or false where the headers
// do not lead to one inside the file.
bool
data_section(const uint8_t *d, size_t n, size_t *from, size_t *to)
{
	if (n < 64 || d[0] != 'M' || d[1] != 'Z')
		return false;
	uint64_t pe = le(d + 0x3c, 4);
	if (pe + 24 > n || memcmp(d + pe, "PE\0\0", 4) != 0)
		return false;
	uint64_t hdr = pe + 24 + le(d + pe + 20, 2);
	for (uint64_t k = le(d + pe + 6, 2); k > 0; k--, hdr += 40) {
		if (hdr + 40 > n)
			return false;
		if (memcmp(d + hdr, ".data", 5) == 0) {
			uint64_t ptr = le(d + hdr + 20, 4);
			uint64_t end = ptr + le(d + hdr + 16, 4);
			if (end > n)
				return false;
			*from = ptr;
			*to = end;
			return true;
		}
	}
	return false;
}

void
check(bool ok)
{
	if (!ok)
		abort();
}

void
check_searches(const uint8_t *data, size_t size)
{
	for (const unsigned char *needle : {fwstart, bpstart}) {
		const void *want = memmem(data, size, needle, 16);
		check(find16_plain(data, size, needle) == want);
#if defined(__x86_64__) || defined(__i386__)
		check(find16_sse2(data, size, needle) == want);
		if (__builtin_cpu_supports("avx2"))
			check(find16_avx2(data, size, needle) == want);
#endif
	}
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > INT32_MAX)
		return 0;
	if (size > 0)
		check_searches(data, size);

	uint32_t fw_size = 0xdeadbeef;
	const unsigned char *fw =
		findfw(data, static_cast<int32_t>(size), &fw_size);

	size_t from, to;
	const void *first = nullptr;
	if (data_section(data, size, &from, &to))
		first = memmem(data + from, to - from, fwstart, 16);
	if (fw == nullptr) {
		check(fw_size == 0);
		check(first == nullptr);
		return 0;
	}

	// The image is the first fwstart in .data, wholly inside it, and
	// ends at the first bpstart behind it or at the section's end.
	check(fw == first);
	const size_t at = static_cast<size_t>(fw - data);
	check(fw_size >= 16 && at + fw_size <= to);
	check(memcmp(fw, fwstart, 16) == 0);
	const size_t scan = to - at < fw_size + 16 ? to - at : fw_size + 16;
	const void *bp = memmem(fw, scan, bpstart, 16);
	if (at + fw_size == to)
		check(bp == nullptr);
	else
		check(bp == fw + fw_size);
	return 0;
}
