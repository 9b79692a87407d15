// The page's way into the locator and the installer's rules, compiled to
// WebAssembly with them.  The worker hands over the package's listing an
// entry at a time, asks which drivers to unpack, hands over each driver's
// bytes, and asks for the verdict: the answers are JSON, and their words
// formats with what fills them, which the page puts in its reader's
// language.  What a call leaves in the room may be overwritten by the next.
#include "findfw.h"
#include "reason.h"
#include "rules.h"
#include "sha256.h"
#include "tell.h"

#include <cstdlib>

namespace
{

struct state {
	std::vector<entry> entries;
	size_t listed_bytes = 0;
	plan planned{};
	std::vector<located> found;
	std::string out;
	unsigned char *room = nullptr;
	size_t room_size = 0;
};

// Made on first use: no start files run constructors here.
state &
s()
{
	static state *it = new state;
	return *it;
}

void
string(std::string &o, std::string_view text)
{
	o += '"';
	for (const char c : text) {
		if (c == '"' || c == '\\') {
			o += '\\';
			o += c;
		} else if (static_cast<unsigned char>(c) < 0x20) {
			o += "\\u00";
			o += "0123456789abcdef"[c >> 4];
			o += "0123456789abcdef"[c & 15];
		} else {
			o += c;
		}
	}
	o += '"';
}

void
said(std::string &o, const line &l)
{
	o += "{\"f\":";
	string(o, l.msgid);
	if (l.plural != nullptr) {
		o += ",\"p\":";
		string(o, l.plural);
		o += ",\"n\":" + decimal(l.n);
	}
	o += ",\"a\":[";
	for (size_t i = 0; i < l.args.size(); i++) {
		if (i > 0)
			o += ',';
		string(o, l.args[i]);
	}
	o += "]}";
}

void
told(std::string &o, const told_lines &t)
{
	o += "\"notes\":[";
	for (size_t i = 0; i < t.notes.size(); i++) {
		if (i > 0)
			o += ',';
		said(o, t.notes[i]);
	}
	o += "],\"end\":";
	if (t.ends)
		said(o, t.end);
	else
		o += "null";
}

std::string_view
in_room(uint32_t len)
{
	return {reinterpret_cast<const char *>(s().room), len};
}

} // namespace

// Room for size bytes, where the worker writes a path, a name or a driver.
extern "C" __attribute__((export_name("room"))) unsigned char *
room(uint32_t size)
{
	state &st = s();
	if (size > st.room_size) {
		free(st.room);
		st.room = static_cast<unsigned char *>(malloc(size));
		st.room_size = st.room != nullptr ? size : 0;
	}
	return st.room;
}

// A new listing.
extern "C" __attribute__((export_name("begin"))) void
begin()
{
	state &st = s();
	st.entries.clear();
	st.found.clear();
	st.listed_bytes = 0;
}

// The largest a driver may be.
extern "C" __attribute__((export_name("driver_bound"))) double
driver_bound()
{
	return max_driver;
}

// One entry of the listing, its path of len bytes in the room; kind is
// 'r', 'l' or 'o', size -1 where the package does not say.  Only those
// named CnxEtU.sys are kept, unless any (the file itself as the driver).
// Returns 1 where it is kept, 0 where not, and -1 where the listing holds
// more than any package.
extern "C" __attribute__((export_name("listed"))) int32_t
listed(int32_t k, double size, uint32_t len, int32_t any)
{
	state &st = s();
	std::string_view path = in_room(len);
	if (path.starts_with("./"))
		path.remove_prefix(2);
	if (any == 0 && !driver_name(path))
		return 0;
	st.listed_bytes += path.size();
	if (st.entries.size() == max_listed ||
	    st.listed_bytes > max_listed_bytes)
		return -1;
	st.entries.push_back({std::string(path),
			      k == 'r'   ? kind::regular
			      : k == 'l' ? kind::link
					 : kind::other,
			      static_cast<int64_t>(size)});
	return 1;
}

// Which drivers to unpack, by their indices, what they come to (an
// unknown size counted as the bound), and what the plan says; the name of
// the file, of len bytes, in the room.
extern "C" __attribute__((export_name("plan"))) const char *
plan_drivers(uint32_t len, int32_t folder)
{
	state &st = s();
	st.planned = plan_drivers(st.entries);
	const std::string name(in_room(len));
	std::string &o = st.out;
	o = "{\"outcome\":";
	static const char *const outcomes[] = {
		"\"go\"", "\"none\"", "\"none_small\"", "\"too_much\""};
	o += outcomes[st.planned.outcome];
	o += ",\"read\":[";
	for (size_t i = 0; i < st.planned.drivers.size(); i++) {
		if (i > 0)
			o += ',';
		o += decimal(st.planned.drivers[i]);
	}
	o += "],\"total\":" + decimal(static_cast<uint64_t>(st.planned.total)) +
	     ',';
	told(o, tell_plan(st.planned, st.entries, name, folder != 0));
	o += '}';
	return o.c_str();
}

// The locator on the size bytes in the room, what the driver entry (an
// index of the plan's) unpacked to; the image, if any, stays in the room.
extern "C" __attribute__((export_name("located"))) const char *
locate(uint32_t index, uint32_t size)
{
	state &st = s();
	std::string &o = st.out;
	const entry &e = st.entries[index];
	const unpacked u = unpacked_to(e, size);
	if (u != unpacked::as_stated) {
		o = u == unpacked::more ? "{\"unpacked\":\"more\"}"
					: "{\"unpacked\":\"less\"}";
		return o.c_str();
	}
	locator_reason = "";
	uint32_t fw_size = 0;
	const unsigned char *fw = findfw(st.room, size, &fw_size);
	located l{index, fw != nullptr, 0, fw_size, {}, locator_reason};
	if (fw != nullptr) {
		l.offset = static_cast<uint32_t>(fw - st.room);
		char sum[65];
		sha256_hex(fw, fw_size, sum);
		l.sum = sum;
		o = "{\"offset\":" + decimal(l.offset) +
		    ",\"size\":" + decimal(fw_size) + ",\"sum\":";
		string(o, l.sum);
	} else {
		o = "{\"reason\":";
		string(o, l.reason);
	}
	o += '}';
	st.found.push_back(std::move(l));
	return o.c_str();
}

// What the drivers hold: each image once, by the path of its first
// driver, and how many hold it; the drivers without firmware, and the end
// where none holds any.
extern "C" __attribute__((export_name("verdict"))) const char *
verdict_of(uint32_t len)
{
	state &st = s();
	const std::string name(in_room(len));
	const verdict v = judge(st.entries, st.found);
	const size_t drivers =
		st.planned.drivers.size() + st.planned.oversized.size();
	std::string &o = st.out;
	o = "{\"images\":[";
	for (size_t i = 0; i < v.images.size(); i++) {
		const located &l = st.found[v.images[i].first];
		if (i > 0)
			o += ',';
		o += "{\"entry\":" + decimal(l.entry) + ",\"path\":";
		string(o, shown(st.entries[l.entry].path));
		o += ",\"offset\":" + decimal(l.offset) + ",\"sum\":";
		string(o, l.sum);
		o += ",\"count\":" + decimal(v.images[i].count) + '}';
	}
	o += "],";
	told(o, tell_verdict(v, st.entries, st.found, drivers, name));
	o += ",\"same\":";
	if (v.images.size() == 1 && v.images[0].count > 1)
		said(o, same_image(v.images[0].count, name));
	else
		o += "null";
	o += '}';
	return o.c_str();
}
