#ifndef TOVRIN_FW_FIND16_H
#define TOVRIN_FW_FIND16_H

#include <cstddef>

// The locator's byte search: the lowest position at which the 16 bytes at
// needle lie wholly inside the len bytes at hay, or null.  The same answer
// as memmem, in time linear in len whatever the bytes hold.
const unsigned char *find16(const unsigned char *hay, size_t len,
			    const unsigned char *needle);

// The ways find16 can take, which it picks by what the CPU offers.  They
// are visible so that the tests can hold each one against memmem, and the
// pick against the CPU.
using find16_fn = const unsigned char *(*)(const unsigned char *hay, size_t len,
					   const unsigned char *needle);
find16_fn find16_way();
const unsigned char *find16_plain(const unsigned char *hay, size_t len,
				  const unsigned char *needle);
#if defined(__x86_64__) || defined(__i386__)
const unsigned char *find16_sse2(const unsigned char *hay, size_t len,
				 const unsigned char *needle);
const unsigned char *find16_avx2(const unsigned char *hay, size_t len,
				 const unsigned char *needle);
#endif

#endif
