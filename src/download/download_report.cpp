// The identity of each download and the claim of its one report; see download_report.h.
// Interlocked operations only, so that any thread may ask.
#include "download/download_report.h"

#include "base/shell_state.h"

volatile LONG g_downloadIdentity = 0;
volatile LONG g_unclaimedReport = 0;

LONG NewDownloadIdentity() {
  LONG identity = InterlockedIncrement(&g_downloadIdentity);
  if (identity == 0) identity = InterlockedIncrement(&g_downloadIdentity); // 0 means "none"
  InterlockedExchange(&g_unclaimedReport, identity);
  return identity;
}

bool ClaimDownloadReport(LONG identity) {
  return identity != 0 && InterlockedCompareExchange(&g_unclaimedReport, 0, identity) == identity;
}

void AbandonDownloads() {
  InterlockedExchange(&g_unclaimedReport, 0);
  InterlockedExchange(&g_cancelFlag, 1);
}
