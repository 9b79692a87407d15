#ifndef TOVRIN_FW_SHA256_H
#define TOVRIN_FW_SHA256_H

#include <cstddef>
#include <cstdint>

// SHA-256 of len bytes at data, as 64 lower-case hexadecimal digits and a NUL
// in hex[65].
void sha256_hex(const unsigned char *data, size_t len, char hex[65]);

#endif
