#ifndef TOVRIN_FW_REASON_H
#define TOVRIN_FW_REASON_H

// For the front ends that say the locator's reason in their own way (the
// installer's reader, the page): the locator's error() keeps it here
// instead of printing it.
extern const char *locator_reason;

#endif
