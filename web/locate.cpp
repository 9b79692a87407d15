// The page's way into the locator, compiled to WebAssembly with it.  The
// page puts a driver's bytes into this module's memory (above everything
// the module itself uses, which allocates nothing) and calls locate; the
// locator then runs exactly as it does inside tovrin-fw.
#include "findfw.h"
#include "reason.h"

namespace
{

uint32_t fw_size;

} // namespace

// The image's offset in the size bytes at data, or -1 once reason() says
// why there is none.
extern "C" __attribute__((export_name("locate"))) int32_t
locate(const unsigned char *data, int32_t size)
{
	locator_reason = "";
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
	return locator_reason;
}
