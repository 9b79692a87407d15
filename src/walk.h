#ifndef TOVRIN_FW_WALK_H
#define TOVRIN_FW_WALK_H

// A folder's CnxEtU.sys, found from the folder's own descriptor: never
// through a link, never by a path made of names.

#include "rules.h"

#include <vector>

// Each entry named CnxEtU.sys under dir, its path relative to it, and for
// a regular file its descriptor (opened without following a link and
// without waiting, and checked to be a regular file), else -1.  Returns
// 0; E2BIG past the bounds on entries; EMFILE or ENFILE where some could
// not be opened.
int walk_folder(int dir, std::vector<entry> &entries, std::vector<int> &fds);

#endif
