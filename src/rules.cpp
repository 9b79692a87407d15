#include "rules.h"

#include <algorithm>

bool
driver_name(std::string_view path)
{
	static constexpr std::string_view name = "cnxetu.sys";
	const size_t slash = path.rfind('/');
	const std::string_view last =
		slash == std::string_view::npos ? path : path.substr(slash + 1);
	if (last.size() != name.size())
		return false;
	// ASCII letters only: a name in another script is not the driver.
	for (size_t i = 0; i < name.size(); i++) {
		char c = last[i];
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
		if (c != name[i])
			return false;
	}
	return true;
}

size_t
told(size_t count)
{
	return count <= few + 1 ? count : few;
}

namespace
{

// Indices sorted by their entries' paths; equal paths keep the package's
// order.
void
by_path(const std::vector<entry> &entries, std::vector<size_t> &list)
{
	std::stable_sort(list.begin(), list.end(), [&](size_t a, size_t b) {
		return entries[a].path < entries[b].path;
	});
}

} // namespace

plan
plan_drivers(const std::vector<entry> &entries, std::string_view only)
{
	plan p{plan::go, {}, {}, {}, 0};
	for (size_t i = 0; i < entries.size(); i++) {
		const entry &e = entries[i];
		if (!only.empty() && e.path != only)
			continue;
		if (e.kind == kind::link)
			p.links.push_back(i);
		if (e.kind != kind::regular)
			continue;
		if (e.size > max_driver) {
			p.oversized.push_back(i);
			continue;
		}
		p.drivers.push_back(i);
		p.total += e.size < 0 ? max_driver : e.size;
	}
	by_path(entries, p.links);
	by_path(entries, p.oversized);
	by_path(entries, p.drivers);
	if (p.drivers.empty())
		p.outcome = p.oversized.empty() ? plan::none : plan::none_small;
	else if (p.total > max_total)
		p.outcome = plan::too_much;
	return p;
}

unpacked
unpacked_to(const entry &e, int64_t got)
{
	if (got > (e.size < 0 ? max_driver : e.size))
		return unpacked::more;
	return e.size >= 0 && got < e.size ? unpacked::less
					   : unpacked::as_stated;
}

verdict
judge(const std::vector<entry> &entries, const std::vector<located> &found)
{
	std::vector<size_t> order(found.size());
	for (size_t i = 0; i < found.size(); i++)
		order[i] = i;
	std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
		return entries[found[a].entry].path <
		       entries[found[b].entry].path;
	});
	verdict v;
	for (size_t i : order) {
		const located &l = found[i];
		if (!l.image) {
			v.without.push_back(i);
			continue;
		}
		auto same = std::find_if(
			v.images.begin(), v.images.end(), [&](const image &m) {
				return found[m.first].sum == l.sum;
			});
		if (same != v.images.end())
			same->count++;
		else
			v.images.push_back({i, 1});
	}
	return v;
}
