#include "reason.h"

#include <cstdarg>
#include <cstring>

const char *locator_reason = "";

// The locator reports why it failed as error(0, 0, "%s", why), all of its
// reasons being constant strings: keep why, word for word.
extern "C" void
error(int, int, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	locator_reason =
		strcmp(format, "%s") == 0 ? va_arg(ap, const char *) : format;
	va_end(ap);
}
