#include "find16.h"
#include "markers.h"

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using bytes = std::vector<unsigned char>;

const unsigned char zeros16[16] = {};
const unsigned char mixed[16] = {0xaa, 0, 0, 0, 0, 0, 0, 0,
				 0,    0, 0, 0, 0, 0, 0, 0xaa};

void
plant(bytes &b, size_t at, const unsigned char *needle, size_t n = 16)
{
	memcpy(b.data() + at, needle, n);
}

// Haystacks of the kinds the search meets and the kinds that break naive
// filters; each is searched for each needle.
struct haystack {
	const char *name;
	std::function<bytes(const unsigned char *, std::mt19937 &)> make;
};

const haystack haystacks[] = {
	{"random",
	 [](const unsigned char *n, std::mt19937 &rng) {
		 bytes b(3000);
		 for (auto &c : b)
			 c = rng() & 0xff;
		 plant(b, 1234, n);
		 plant(b, 2900, n);
		 return b;
	 }},
	{"zeros_match_at_end",
	 [](const unsigned char *n, std::mt19937 &) {
		 bytes b(3000);
		 plant(b, b.size() - 16, n);
		 return b;
	 }},
	{"arm_like",
	 [](const unsigned char *n, std::mt19937 &rng) {
		 // Little-endian words whose top byte is mostly an
		 // always-executed condition (0xeX), as in ARM code.
		 static const unsigned char tops[] = {0xe5, 0xe3, 0xeb, 0xe1,
						      0xea, 0xe2, 0x1a, 0x0a};
		 bytes b(4096);
		 for (size_t i = 0; i < b.size(); i++)
			 b[i] = i % 4 == 3 ? tops[rng() % 8] : rng() & 0xff;
		 for (size_t i = 64; i + 16 < b.size(); i += 256)
			 plant(b, i, n, 12); // all but the last word
		 plant(b, 3000, n);
		 return b;
	 }},
	{"near_misses",
	 [](const unsigned char *n, std::mt19937 &) {
		 // The needle with one byte changed, each byte in turn, back
		 // to back, then again shifted by one; the real one last.
		 bytes b(2 * 16 * 16 + 1 + 16);
		 for (size_t k = 0; k < 32; k++) {
			 size_t at = k * 16 + k / 16;
			 plant(b, at, n);
			 b[at + k % 16] ^= 0x01;
		 }
		 plant(b, b.size() - 16, n);
		 return b;
	 }},
	{"candidate_storm",
	 [](const unsigned char *n, std::mt19937 &) {
		 // First and last bytes line up at most positions: every
		 // filter hit must be checked and rejected.
		 bytes b(64 * 32);
		 for (size_t i = 0; i < b.size(); i++)
			 b[i] = i / 16 % 2 ? n[15] : n[0];
		 return b;
	 }},
	{"needle_prefix_at_end",
	 [](const unsigned char *n, std::mt19937 &) {
		 bytes b(200, 0x55);
		 plant(b, b.size() - 15, n, 15);
		 return b;
	 }},
};

const unsigned char *const needles[] = {fwstart, bpstart, zeros16, mixed};

using search = const unsigned char *(*)(const unsigned char *, size_t,
					const unsigned char *);

// find16 and every way of it that this CPU can run.
std::vector<search>
searches()
{
	std::vector<search> all = {find16, find16_plain};
#if defined(__x86_64__) || defined(__i386__)
	if (__builtin_cpu_supports("sse2"))
		all.push_back(find16_sse2);
	if (__builtin_cpu_supports("avx2"))
		all.push_back(find16_avx2);
#endif
	return all;
}

// The widest way, and never one that the CPU lacks: the wrong pick dies
// of SIGILL on such a CPU.  CI runs this under qemu's older CPU models
// too, and this CPUID check is the compiler's, not the C library's.
TEST(Find16, TakesTheWidestWayThisCpuHas)
{
	search want = find16_plain;
#if defined(__x86_64__) || defined(__i386__)
	if (__builtin_cpu_supports("avx2"))
		want = find16_avx2;
	else if (__builtin_cpu_supports("sse2"))
		want = find16_sse2;
#endif
	EXPECT_EQ(find16_way(), want);
}

void
PrintTo(const haystack &h, std::ostream *os)
{
	*os << h.name;
}

class Find16 : public testing::TestWithParam<haystack>
{
};

// memmem's answer; an empty vector may hold no storage, which memmem
// must not be given.
const void *
oracle(const bytes &b, const unsigned char *needle)
{
	return b.empty() ? nullptr : memmem(b.data(), b.size(), needle, 16);
}

// Holds find against memmem on every window of b that starts and ends at
// any of 33 offsets, so that matches and misses fall at every place in a
// block of positions and in the short tail behind the last one.
void
agrees_on_every_window(search find, const unsigned char *needle, const bytes &b)
{
	for (size_t from = 0; from <= 32; from++) {
		for (size_t cut = 0; cut <= 32; cut++) {
			// An exact-size copy, so that over-reads show in ASan.
			bytes win(b.begin() + from, b.end() - cut);
			const void *want = oracle(win, needle);
			const void *got = find(win.data(), win.size(), needle);
			ASSERT_EQ(got, want)
				<< "from " << from << " cut " << cut;
		}
	}
}

TEST_P(Find16, AgreesWithMemmemOnEveryWindow)
{
	std::mt19937 rng(1);
	for (search find : searches()) {
		for (const unsigned char *needle : needles) {
			SCOPED_TRACE(testing::Message()
				     << "search "
				     << reinterpret_cast<void *>(find)
				     << " needle " << (needle - needles[0]));
			agrees_on_every_window(find, needle,
					       GetParam().make(needle, rng));
		}
	}
}

INSTANTIATE_TEST_SUITE_P(Haystacks, Find16, testing::ValuesIn(haystacks),
			 [](const auto &info) { return info.param.name; });

// A needle at every position of short haystacks, and hanging over their
// end by 1 to 16 bytes: the bytes past the end are there, so that a search
// that reads them would find the needle where it is not.
TEST(Find16Short, FindsEveryPlantedPositionAndNoneOverTheEnd)
{
	for (search find : searches()) {
		for (size_t len = 0; len <= 80; len++) {
			for (size_t at = 0; at <= len; at++) {
				bytes b(len + 16, 0xeb);
				plant(b, at, fwstart);
				ASSERT_EQ(static_cast<const void *>(
						  find(b.data(), len, fwstart)),
					  at + 16 <= len ? b.data() + at
							 : nullptr)
					<< "len " << len << " at " << at;
			}
		}
	}
}

} // namespace
