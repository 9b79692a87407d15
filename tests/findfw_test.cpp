#include "findfw.h"
#include "markers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using bytes = std::vector<unsigned char>;

// The layout of the image every case starts from: a PE header behind the
// 64-byte DOS header, a PE32 optional header, .text and .data headers, and
// a .data section with a 64-byte image in it.
enum : uint32_t {
	pe = 0x40,
	opt_size = 0xe0,
	text_hdr = pe + 24 + opt_size,
	data_hdr = text_hdr + 40,
	data_ptr = 0x200,
	data_size = 0x100,
	fw_at = data_ptr + 0x20,
	bp_at = fw_at + 0x40,
	file_size = 0x400,
};

void
put16(bytes &b, uint32_t off, uint16_t v)
{
	b.at(off) = v & 0xff;
	b.at(off + 1) = v >> 8;
}

void
put32(bytes &b, uint32_t off, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		b.at(off + i) = (v >> 8 * i) & 0xff;
}

void
put(bytes &b, uint32_t off, const void *p, size_t n)
{
	b.resize(std::max<size_t>(b.size(), off + n));
	memcpy(b.data() + off, p, n);
}

void
section_header(bytes &b, uint32_t at, const char *name, uint32_t ptr,
	       uint32_t size)
{
	put(b, at, name, strlen(name));
	put32(b, at + 16, size);
	put32(b, at + 20, ptr);
}

bytes
base_image()
{
	bytes b(file_size, 0xcc);
	memset(b.data(), 0, data_ptr);
	put(b, 0, "MZ", 2);
	put32(b, 0x3c, pe);
	put(b, pe, "PE\0\0", 4);
	put16(b, pe + 6, 2);
	put16(b, pe + 20, opt_size);
	section_header(b, text_hdr, ".text", data_ptr + data_size, 0x80);
	section_header(b, data_hdr, ".data", data_ptr, data_size);
	put(b, fw_at, fwstart, 16);
	put(b, bp_at, bpstart, 16);
	return b;
}

struct locator_case {
	const char *name;
	std::function<void(bytes &)> edit;
	const char *message; // null: expect success
	uint32_t fw_offset = 0;
	uint32_t fw_size = 0;
};

const locator_case cases[] = {
	{"base", [](bytes &) {}, nullptr, fw_at, bp_at - fw_at},

	// DOS header
	{"size63", [](bytes &b) { b.resize(63); },
	 "file is not a DOS executable"},
	{"notmz", [](bytes &b) { put(b, 0, "ZM", 2); },
	 "file is not a DOS executable"},
	{"size64_pe_at_end_no_sections",
	 [](bytes &b) {
		 b.resize(64);
		 put32(b, 0x3c, 40);
		 put(b, 40, "PE\0\0", 4);
		 put16(b, 46, 0);
	 },
	 "`.data' section not found"},

	// PE header
	{"pe24_past_end",
	 [](bytes &b) {
		 put32(b, 0x3c, file_size - 23);
		 put(b, file_size - 23, "PE\0\0", 4);
	 },
	 "file is not a portable executable (PE)"},
	{"lfanew_wraps", [](bytes &b) { put32(b, 0x3c, 0xffffffe8); },
	 "file is not a portable executable (PE)"},
	{"lfanew_max", [](bytes &b) { put32(b, 0x3c, 0xffffffff); },
	 "file is not a portable executable (PE)"},
	{"bad_signature", [](bytes &b) { put(b, pe + 3, "\1", 1); },
	 "file is not a portable executable (PE)"},

	// Section walk
	{"no_sections", [](bytes &b) { put16(b, pe + 6, 0); },
	 "`.data' section not found"},
	{"data_not_counted", [](bytes &b) { put16(b, pe + 6, 1); },
	 "`.data' section not found"},
	{"table_cut_before_data", [](bytes &b) { b.resize(data_hdr + 39); },
	 "file header corrupted"},
	{"table_runs_off_before_data",
	 [](bytes &b) {
		 put(b, data_hdr, ".rsrc", 5);
		 put16(b, pe + 6, 0xffff);
	 },
	 "file header corrupted"},
	{"optional_header_past_end",
	 [](bytes &b) { put16(b, pe + 20, 0xffff); }, "file header corrupted"},
	{"data_header_ends_file",
	 [](bytes &b) {
		 put16(b, pe + 20, file_size - 80 - pe - 24);
		 section_header(b, file_size - 80, ".text", 0, 0);
		 section_header(b, file_size - 40, ".data", data_ptr,
				data_size);
	 },
	 nullptr, fw_at, bp_at - fw_at},
	{"table_runs_off_after_data",
	 [](bytes &b) { put16(b, pe + 6, 0xffff); }, nullptr, fw_at,
	 bp_at - fw_at},
	{"name_prefix_matches",
	 [](bytes &b) { put(b, data_hdr, ".data$x", 7); }, nullptr, fw_at,
	 bp_at - fw_at},
	{"first_data_prefix_wins",
	 [](bytes &b) { put(b, text_hdr, ".datab", 6); },
	 "firmware start sequence not found"},
	{"name_needs_five_bytes",
	 [](bytes &b) { put(b, data_hdr, ".dat\0", 5); },
	 "`.data' section not found"},
	{"name_is_case_sensitive",
	 [](bytes &b) { put(b, data_hdr, ".DATA", 5); },
	 "`.data' section not found"},

	// Section bounds
	{"section_ends_at_file_end",
	 [](bytes &b) {
		 put32(b, data_hdr + 16, file_size - data_ptr);
		 put(b, bp_at, "\0", 1);
	 },
	 nullptr, fw_at, file_size - fw_at},
	{"section_one_past_file_end",
	 [](bytes &b) { put32(b, data_hdr + 16, file_size - data_ptr + 1); },
	 "`.data' section extends beyond end of file"},
	{"section_ptr_top_byte",
	 [](bytes &b) {
		 // Read with its top byte anywhere else, the pointer would
		 // land inside this larger file.
		 b.resize(0x10400, 0xcc);
		 put32(b, data_hdr + 20, 0x01000000 | data_ptr);
	 },
	 "`.data' section extends beyond end of file"},
	{"section_sum_wraps",
	 [](bytes &b) {
		 put32(b, data_hdr + 20, 0xffffff00);
		 put32(b, data_hdr + 16, 0x200);
	 },
	 "`.data' section extends beyond end of file"},
	{"section_ptr_wraps_size_max",
	 [](bytes &b) {
		 put32(b, data_hdr + 20, 0x10);
		 put32(b, data_hdr + 16, 0xfffffff8);
	 },
	 "`.data' section extends beyond end of file"},

	// fwstart
	{"empty_section", [](bytes &b) { put32(b, data_hdr + 16, 0); },
	 "firmware start sequence not found"},
	{"fwstart_across_section_end",
	 [](bytes &b) { put32(b, data_hdr + 16, fw_at + 15 - data_ptr); },
	 "firmware start sequence not found"},
	{"fwstart_ends_section",
	 [](bytes &b) { put32(b, data_hdr + 16, fw_at + 16 - data_ptr); },
	 nullptr, fw_at, 16},
	{"fwstart_missing", [](bytes &b) { put(b, fw_at + 15, "\0", 1); },
	 "firmware start sequence not found"},
	{"first_fwstart_wins",
	 [](bytes &b) { put(b, fw_at + 16, fwstart, 16); }, nullptr, fw_at,
	 bp_at - fw_at},
	{"fwstart_before_section_ignored",
	 [](bytes &b) {
		 put(b, data_ptr - 16, fwstart, 16);
		 put32(b, data_hdr + 20, data_ptr - 8);
	 },
	 nullptr, fw_at, bp_at - fw_at},

	// bpstart
	{"bpstart_right_behind",
	 [](bytes &b) { put(b, fw_at + 16, bpstart, 16); }, nullptr, fw_at, 16},
	{"bpstart_before_fwstart_ignored",
	 [](bytes &b) {
		 put(b, data_ptr, bpstart, 16);
		 put(b, bp_at, "\0", 1);
	 },
	 nullptr, fw_at, data_ptr + data_size - fw_at},
	{"bpstart_across_section_end",
	 [](bytes &b) {
		 put(b, bp_at, "\0", 1);
		 put(b, data_ptr + data_size - 8, bpstart, 16);
	 },
	 nullptr, fw_at, data_ptr + data_size - fw_at},
	{"no_bpstart_runs_to_section_end",
	 [](bytes &b) {
		 memset(b.data() + bp_at, 0, data_ptr + data_size - bp_at);
	 },
	 nullptr, fw_at, data_ptr + data_size - fw_at},
};

// Names the case in test output instead of dumping its bytes.
void
PrintTo(const locator_case &c, std::ostream *os)
{
	*os << c.name;
}

class Locator : public testing::TestWithParam<locator_case>
{
};

// With TOVRIN_FW_SEEDS set, each case's image is also written there, as a
// starting corpus for the fuzzer.
void
save_seed(const char *name, const bytes &b)
{
	const char *dir = getenv("TOVRIN_FW_SEEDS");
	if (dir == nullptr)
		return;
	std::string path = std::string(dir) + "/" + name;
	FILE *f = fopen(path.c_str(), "wb");
	ASSERT_NE(f, nullptr) << path;
	fwrite(b.data(), 1, b.size(), f);
	fclose(f);
}

TEST_P(Locator, FindsImageOrSaysWhy)
{
	const locator_case &c = GetParam();
	bytes b = base_image();
	c.edit(b);
	save_seed(c.name, b);
	// An exact-size copy, so that a read past the end shows under ASan.
	std::vector<unsigned char> exact(b.begin(), b.end());

	uint32_t fw_size = 0xdeadbeef;
	testing::internal::CaptureStderr();
	const unsigned char *fw = findfw(
		exact.data(), static_cast<int32_t>(exact.size()), &fw_size);
	std::string err = testing::internal::GetCapturedStderr();

	if (c.message == nullptr) {
		EXPECT_EQ(err, "");
		ASSERT_NE(fw, nullptr);
		EXPECT_EQ(fw - exact.data(), c.fw_offset);
		EXPECT_EQ(fw_size, c.fw_size);
	} else {
		EXPECT_EQ(fw, nullptr);
		EXPECT_EQ(fw_size, 0u);
		std::string tail = std::string(": ") + c.message + "\n";
		EXPECT_TRUE(err.size() > tail.size() &&
			    err.compare(err.size() - tail.size(), tail.size(),
					tail) == 0 &&
			    err.find('\n') == err.size() - 1)
			<< err;
	}
}

INSTANTIATE_TEST_SUITE_P(Table, Locator, testing::ValuesIn(cases),
			 [](const auto &info) { return info.param.name; });

} // namespace
