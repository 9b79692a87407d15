#include "findfw.h"
#include "find16.h"

#include <cstring>
#include <error.h>

namespace
{

// The image's first four ARM instructions, and the first four of the code
// that follows it in the driver; both stored little-endian.
const unsigned char fwstart[16] = {0x1c, 0x24, 0x9f, 0xe5, 0x00, 0x10,
				   0xa0, 0xe3, 0x00, 0x10, 0x82, 0xe5,
				   0x22, 0x00, 0x00, 0xeb};
const unsigned char bpstart[16] = {0x78, 0x20, 0x9f, 0xe5, 0x01, 0x10,
				   0xa0, 0xe3, 0x00, 0x10, 0x82, 0xe5,
				   0x70, 0x20, 0x9f, 0xe5};

// PE fields lie at any offset: assemble them byte by byte, which is right
// on either byte order and never reads unaligned.
uint16_t
le16_to_cpup(const unsigned char *p)
{
	return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t
le32_to_cpup(const unsigned char *p)
{
	return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
	       static_cast<uint32_t>(p[2]) << 16 |
	       static_cast<uint32_t>(p[3]) << 24;
}

const unsigned char *
fail(const char *why)
{
	error(0, 0, "%s", why);
	return nullptr;
}

} // namespace

const unsigned char *
findfw(const unsigned char *file_data, int32_t file_size, uint32_t *fw_size)
{
	*fw_size = 0;

	if (file_size < 64 || memcmp(file_data, "MZ", 2) != 0)
		return fail("file is not a DOS executable");
	// Offsets read from the file are summed in 64 bits: no 32-bit value
	// can wrap such a sum back inside a file of at most 2^31 - 1 bytes.
	const uint64_t size = static_cast<uint64_t>(file_size);

	const uint64_t pe = le32_to_cpup(file_data + 0x3c);
	if (pe + 24 > size || memcmp(file_data + pe, "PE\0\0", 4) != 0)
		return fail("file is not a portable executable (PE)");

	uint16_t nsections = le16_to_cpup(file_data + pe + 6);
	uint64_t hdr = pe + 24 + le16_to_cpup(file_data + pe + 20);
	for (;; hdr += 40, nsections--) {
		if (nsections == 0)
			return fail("`.data' section not found");
		if (hdr + 40 > size)
			return fail("file header corrupted");
		if (memcmp(file_data + hdr, ".data", 5) == 0)
			break;
	}

	const uint64_t raw_size = le32_to_cpup(file_data + hdr + 16);
	const uint64_t raw_ptr = le32_to_cpup(file_data + hdr + 20);
	if (raw_ptr + raw_size > size)
		return fail("`.data' section extends beyond end of file");
	// Both now fit in size_t, even on a 32-bit build.
	const unsigned char *section = file_data + static_cast<size_t>(raw_ptr);
	const unsigned char *end = section + static_cast<size_t>(raw_size);

	const unsigned char *fw = find16(section, end - section, fwstart);
	if (fw == nullptr)
		return fail("firmware start sequence not found");
	const unsigned char *bp = find16(fw, end - fw, bpstart);
	*fw_size = static_cast<uint32_t>((bp != nullptr ? bp : end) - fw);
	return fw;
}
