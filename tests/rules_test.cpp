#include "rules.h"

#include <gtest/gtest.h>

namespace
{

// A listing written as "r:SIZE:PATH" (regular), "l::PATH" (a link) or
// "o::PATH" (anything else); SIZE -1 for unknown.
std::vector<entry>
listing(std::initializer_list<const char *> rows)
{
	std::vector<entry> out;
	for (std::string row : rows) {
		const size_t a = row.find(':'), b = row.find(':', a + 1);
		const std::string size = row.substr(a + 1, b - a - 1);
		out.push_back({row.substr(b + 1),
			       row[0] == 'r'   ? kind::regular
			       : row[0] == 'l' ? kind::link
					       : kind::other,
			       size.empty() ? 0 : std::stoll(size)});
	}
	return out;
}

TEST(Rules, DriverNames)
{
	for (const char *name : {"CnxEtU.sys", "a/CNXETU.SYS", "a b/cnxetu.sys",
				 "x\n3 l/hostname\nq/CnxEtU.sys"})
		EXPECT_TRUE(driver_name(name)) << name;
	for (const char *name : {"Copy of CnxEtU.sys", "OldCnxEtU.sys",
				 "CnxEtU.sys/x", "CnxEtU.sys.bak", "", "/"})
		EXPECT_FALSE(driver_name(name)) << name;
}

TEST(Rules, Plans)
{
	const int64_t max = max_driver;
	const std::string big = "r:" + std::to_string(max + 1) + ":";
	const std::string top = "r:" + std::to_string(max) + ":";
	struct row {
		std::vector<entry> entries;
		plan::result outcome;
		std::vector<size_t> drivers, oversized, links;
	} rows[] = {
		{listing({}), plan::none, {}, {}, {}},
		{listing({"l::CnxEtU.sys", "o::B/CnxEtU.sys"}),
		 plan::none,
		 {},
		 {},
		 {0}},
		// An oversized driver at the top leaves the real one in.
		{listing({(big + "CnxEtU.sys").c_str(), "r:10:x/CnxEtU.sys"}),
		 plan::go,
		 {1},
		 {0},
		 {}},
		{listing({(big + "CnxEtU.sys").c_str()}),
		 plan::none_small,
		 {},
		 {0},
		 {}},
		// Told by path, byte for byte, whatever the package's order.
		{listing({"r:1:b/CnxEtU.sys", "r:1:B/CnxEtU.sys",
			  "r:1:a/CnxEtU.sys"}),
		 plan::go,
		 {1, 2, 0},
		 {},
		 {}},
		// 64 MiB in all is the bound; an unknown size counts as a
		// driver's largest.
		{listing({(top + "1").c_str(), (top + "2").c_str(),
			  (top + "3").c_str(), (top + "4").c_str()}),
		 plan::go,
		 {0, 1, 2, 3},
		 {},
		 {}},
		{listing({(top + "1").c_str(), (top + "2").c_str(),
			  (top + "3").c_str(), (top + "4").c_str(), "r:1:5"}),
		 plan::too_much,
		 {0, 1, 2, 3, 4},
		 {},
		 {}},
		{listing({(top + "1").c_str(), (top + "2").c_str(),
			  (top + "3").c_str(), "r:-1:4", "r:1:5"}),
		 plan::too_much,
		 {0, 1, 2, 3, 4},
		 {},
		 {}},
	};
	for (const row &r : rows) {
		const plan p = plan_drivers(r.entries);
		EXPECT_EQ(p.outcome, r.outcome);
		EXPECT_EQ(p.drivers, r.drivers);
		EXPECT_EQ(p.oversized, r.oversized);
		EXPECT_EQ(p.links, r.links);
	}
	// The owner's choice alone counts.
	const plan chosen =
		plan_drivers(listing({"r:1:A/CnxEtU.sys", "r:1:B/CnxEtU.sys"}),
			     "B/CnxEtU.sys");
	EXPECT_EQ(chosen.drivers, std::vector<size_t>{1});
}

TEST(Rules, Images)
{
	// Four equal drivers and one different: two images, each once, in
	// the order of their first driver's path; those without, by path.
	const auto entries = listing({"r:1:e", "r:1:d", "r:1:c", "r:1:b",
				      "r:1:a", "r:1:f", "r:1:0"});
	std::vector<located> found;
	for (size_t i = 0; i < 5; i++)
		found.push_back(
			{i, true, 0, 16, i == 2 ? "other" : "same", {}});
	found.push_back({5, false, 0, 0, {}, "file header corrupted"});
	found.push_back({6, false, 0, 0, {}, "file header corrupted"});
	const verdict v = judge(entries, found);
	ASSERT_EQ(v.images.size(), 2u);
	EXPECT_EQ(v.images[0].first, 4u); // a
	EXPECT_EQ(v.images[0].count, 4u);
	EXPECT_EQ(v.images[1].first, 2u); // c
	EXPECT_EQ(v.images[1].count, 1u);
	EXPECT_EQ(v.without, (std::vector<size_t>{6, 5}));
	EXPECT_EQ(told(4), 4u);
	EXPECT_EQ(told(5), few);
}

} // namespace
