#ifndef TOVRIN_FW_PUT_H
#define TOVRIN_FW_PUT_H

// The image into DIR/tovrin-fw.bin, atomically, and what to do next.

#include <string>

// Ends the run where the target holds this image already, or another
// (without force), or DIR cannot be written (for want of root's rights,
// where needs_root); otherwise installs it.
void put_image(const std::string &dir, const std::string &image, bool force,
	       bool needs_root);

// Removes what put_image made and has not finished: for the way out.
void put_cleanup();

#endif
