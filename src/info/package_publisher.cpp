// The publisher packages must be signed by: PLINTHWARE_PACKAGE_PUBLISHER from the build, empty
// when there is none, and its keys, PLINTHWARE_PACKAGE_PUBLISHER_KEYS. Alone in their file so that
// a pinned variant links its own pins and shares every other object. Read-only, any thread.
#include "info/publisher_check.h"

#ifndef PLINTHWARE_PACKAGE_PUBLISHER
#define PLINTHWARE_PACKAGE_PUBLISHER L""
#endif

extern const wchar_t kPackagePublisher[] = PLINTHWARE_PACKAGE_PUBLISHER;

#ifndef PLINTHWARE_PACKAGE_PUBLISHER_KEYS
#define PLINTHWARE_PACKAGE_PUBLISHER_KEYS L""
#endif

extern const wchar_t kPackagePublisherKeys[] = PLINTHWARE_PACKAGE_PUBLISHER_KEYS;
