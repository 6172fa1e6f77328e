/* The exported header must compile as C and link against the library. */
#include "tdsdk.h"

static void TDS_CALL on_event(void* user, int event, int value) {
  (void)user;
  (void)event;
  (void)value;
}

int main(void) {
  TDSdkHandle h = CreateTDSdkHandle();
  CaptureHandler ch;
  TDS_RECT area = {0, 0, 1366, 768};
  if (!h) return 1;
  ch = TDS_GetSetCaptureHandler(h);
  ch.setCaptureArea(ch.capture, &area);
  TDS_SetSysMetric(h, 1366, 768);
  if (TDS_GetPairRejectedReason(h) != 0) return 2;
  (void)on_event;
  TDS_Disconnect(h);
  DestroyTDSdkHandle(h);
  DestroyTDSdkHandle(0);
  return 0;
}
