// The page's way into the locator, compiled to WebAssembly with it.  The
// page puts a driver's bytes into this module's memory (above everything
// the module itself uses, which allocates nothing) and calls locate; the
// locator then runs exactly as it does inside tovrin-fw.
#include "findfw.h"

#include <cstdarg>
#include <cstring>

namespace
{

const char *reason = "";
uint32_t fw_size;

} // namespace

// The locator reports why it failed as error(0, 0, "%s", why), all of its
// reasons being constant strings: keep why for the page, word for word.
extern "C" void
error(int, int, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	reason = strcmp(format, "%s") == 0 ? va_arg(ap, const char *) : format;
	va_end(ap);
}

// The image's offset in the size bytes at data, or -1 once reason() says
// why there is none.
extern "C" __attribute__((export_name("locate"))) int32_t
locate(const unsigned char *data, int32_t size)
{
	reason = "";
	const unsigned char *fw = findfw(data, size, &fw_size);
	return fw != nullptr ? static_cast<int32_t>(fw - data) : -1;
}

extern "C" __attribute__((export_name("image_size"))) uint32_t
image_size()
{
	return fw_size;
}

extern "C" __attribute__((export_name("reason"))) const char *
why()
{
	return reason;
}
