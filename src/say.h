#ifndef TOVRIN_FW_SAY_H
#define TOVRIN_FW_SAY_H

// The installer's lines, in the user's language: only the format is
// translated, never what fills it.  Each format fills its %s in order.

#include "tell.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

using words = std::initializer_list<std::string_view>;

// The catalogs beside the program: under share/locale once installed,
// under locale/ in a build folder.
void start_speaking();

const char *_(const char *msgid);
const char *__(const char *singular, const char *plural, uint64_t n);
std::string fill(std::string_view format, words args);
std::string num(int64_t n);

// A line of ours on standard output, and on standard error.
void say(const char *msgid, words args = {});
void warn(const char *msgid, words args = {});
void sayn(const char *singular, const char *plural, uint64_t n, words args);
void warnn(const char *singular, const char *plural, uint64_t n, words args);
// The rules' lines, likewise.
void say_line(const line &l);
void warn_line(const line &l);
[[noreturn]] void die_line(const line &l);
// A line on standard error, then the run ends: what it made is removed.
[[noreturn]] void die(const char *msgid, words args = {});
[[noreturn]] void dien(const char *singular, const char *plural, uint64_t n,
		       words args);
// Set by the run: what to remove on the way out, and by a signal.
extern void (*at_end)();

#endif
