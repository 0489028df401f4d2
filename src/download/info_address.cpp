// The address the Info file is fetched from: PLINTHWARE_INFO_URL from the build (the cache
// variable of the same name). Alone in its file so that a test variant links its own address and
// shares every other object. Read-only, any thread.
#include "download/download_jobs.h"

extern const wchar_t kInfoFileUrl[] = PLINTHWARE_INFO_URL;
