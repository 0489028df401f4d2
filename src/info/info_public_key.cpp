// The public key that Info files must be signed with: PLINTHWARE_INFO_PUBLIC_KEY from the build,
// empty when there is none. Alone in its file so that a signed variant links its own key and
// shares every other object. Read-only, any thread.
#include "info/info_signature.h"

#ifndef PLINTHWARE_INFO_PUBLIC_KEY
#define PLINTHWARE_INFO_PUBLIC_KEY L""
#endif

extern const wchar_t kInfoPublicKey[] = PLINTHWARE_INFO_PUBLIC_KEY;
