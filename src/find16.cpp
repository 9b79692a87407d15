#include "find16.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
// glibc wrote this header for C, whose _Bool C++ spells bool.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#endif

// Jumps from one occurrence of the needle's first byte to the next; at
// most 16 bytes are compared at each, so the cost stays linear.
const unsigned char *
find16_plain(const unsigned char *hay, size_t len, const unsigned char *needle)
{
	if (len < 16)
		return nullptr;
	const unsigned char *last = hay + (len - 16);
	for (const unsigned char *p = hay; p <= last; p++) {
		p = static_cast<const unsigned char *>(memchr(
			p, needle[0], static_cast<size_t>(last - p) + 1));
		if (p == nullptr)
			return nullptr;
		if (memcmp(p, needle, 16) == 0)
			return p;
	}
	return nullptr;
}

#if defined(__x86_64__) || defined(__i386__)

// Both vector searches filter a block of starting positions on the
// needle's first and last bytes and compare in full only where both
// match.  memmem's own filter keeps matching on the long zero runs that
// drivers hold, since the firmware's sequences hold zero bytes too; this
// one costs the same on zeros, code and noise.  The short tail behind the
// last whole block takes the plain way.

// How far ahead of the search to ask for the driver's bytes: the hardware
// prefetcher stops at each 4 KiB page, and a large driver is read from
// memory, not cache.  A prefetch never faults, even past the end.
constexpr size_t ahead = 4096;

__attribute__((target("sse2"))) const unsigned char *
find16_sse2(const unsigned char *hay, size_t len, const unsigned char *needle)
{
	const __m128i first = _mm_set1_epi8(static_cast<char>(needle[0]));
	const __m128i last = _mm_set1_epi8(static_cast<char>(needle[15]));
	size_t i = 0;

	// Starts i to i + 15 need the bytes up to i + 30.
	for (; len >= 31 && i <= len - 31; i += 16) {
		if (i % 64 == 0)
			__builtin_prefetch(hay + i + ahead);
		const __m128i a = _mm_loadu_si128(
			reinterpret_cast<const __m128i *>(hay + i));
		const __m128i b = _mm_loadu_si128(
			reinterpret_cast<const __m128i *>(hay + i + 15));
		auto mask = static_cast<unsigned>(_mm_movemask_epi8(
			_mm_and_si128(_mm_cmpeq_epi8(a, first),
				      _mm_cmpeq_epi8(b, last))));
		for (; mask != 0; mask &= mask - 1) {
			const unsigned char *p = hay + i + __builtin_ctz(mask);
			if (memcmp(p, needle, 16) == 0)
				return p;
		}
	}
	return find16_plain(hay + i, len - i, needle);
}

__attribute__((target("avx2"))) const unsigned char *
find16_avx2(const unsigned char *hay, size_t len, const unsigned char *needle)
{
	const __m256i first = _mm256_set1_epi8(static_cast<char>(needle[0]));
	const __m256i last = _mm256_set1_epi8(static_cast<char>(needle[15]));
	size_t i = 0;

	// Starts i to i + 31 need the bytes up to i + 46.
	for (; len >= 47 && i <= len - 47; i += 32) {
		if (i % 64 == 0)
			__builtin_prefetch(hay + i + ahead);
		const __m256i a = _mm256_loadu_si256(
			reinterpret_cast<const __m256i *>(hay + i));
		const __m256i b = _mm256_loadu_si256(
			reinterpret_cast<const __m256i *>(hay + i + 15));
		auto mask = static_cast<unsigned>(_mm256_movemask_epi8(
			_mm256_and_si256(_mm256_cmpeq_epi8(a, first),
					 _mm256_cmpeq_epi8(b, last))));
		for (; mask != 0; mask &= mask - 1) {
			const unsigned char *p = hay + i + __builtin_ctz(mask);
			if (memcmp(p, needle, 16) == 0)
				return p;
		}
	}
	return find16_plain(hay + i, len - i, needle);
}

#endif

find16_fn
find16_way()
{
#if defined(__x86_64__) || defined(__i386__)
	// Twice the width where the CPU has it: SSE2 alone computes more
	// slowly than memory delivers a large driver.  The C library has
	// already asked the CPU what it offers; asking again (CPUID, as
	// __builtin_cpu_supports does) costs a virtual machine more at
	// start-up than the whole search of a small driver.
	if (CPU_FEATURE_ACTIVE(AVX2))
		return find16_avx2;
#ifndef __SSE2__
	// A 32-bit build may meet a CPU older than SSE2.
	if (!CPU_FEATURE_ACTIVE(SSE2))
		return find16_plain;
#endif
	return find16_sse2;
#else
	return find16_plain;
#endif
}

const unsigned char *
find16(const unsigned char *hay, size_t len, const unsigned char *needle)
{
	return find16_way()(hay, len, needle);
}
