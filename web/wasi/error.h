#ifndef TOVRIN_FW_WASI_ERROR_H
#define TOVRIN_FW_WASI_ERROR_H

// WASI's C library has no error(); the page's binding supplies the one
// that the locator calls.
extern "C" void error(int status, int errnum, const char *format, ...);

#endif
