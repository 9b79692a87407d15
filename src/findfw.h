#ifndef TOVRIN_FW_FINDFW_H
#define TOVRIN_FW_FINDFW_H

#include <cstdint>

// Finds the AccessRunner firmware image in the bytes of a Windows driver
// file.  Returns a pointer into file_data and stores the image's length in
// *fw_size; on failure prints one line saying why and returns null with
// *fw_size left at 0.
const unsigned char *findfw(const unsigned char *file_data, int32_t file_size,
			    uint32_t *fw_size);

#endif
