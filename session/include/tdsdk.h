/* The session interface: one paired connection to a video device.
 * C-callable; every function but CreateTDSdkHandle takes the handle first. */
#ifndef TANDEO_TDSDK_H
#define TANDEO_TDSDK_H

#include <stdint.h>

#if defined(_WIN32) && defined(TANDEO_BUILDING_DLL)
#define TDS_API __declspec(dllexport)
#define TDS_CALL __cdecl
#elif defined(_WIN32)
#define TDS_API __declspec(dllimport)
#define TDS_CALL __cdecl
#else
#define TDS_API __attribute__((visibility("default")))
#define TDS_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* h239 status */
#define TDH239_IDLE 0
#define TDH239_CONNECTED 1
#define TDH239_AUTHORIZED 2
#define TDH239_ENCODING 3
#define TDH239_DECODING 4

/* connection status */
#define TDH239_CONNECTION_NONE 0
#define TDH239_CONNECTION_REJECTED 1
#define TDH239_CONNECTION_OK 2
#define TDH239_CONNECTING_TIMEOUT 3
#define TDH239_CONNECTION_CLOSE 4

/* callback events */
#define SELECT_THREAD_EVENT_CONNSTATUS_CHANGE 0
#define SELECT_THREAD_EVENT_H239STATUS_CHANGE 1
#define SELECT_THREAD_EVENT_START_ENC 2
#define SELECT_THREAD_EVENT_STOP_ENC 3
/* The desktop declined to hand out the screen (on Wayland, the user said no
   to the portal's permission, or the cast failed): the session has asked
   the device to stop the stream and stays paired. Value 0. */
#define SELECT_THREAD_EVENT_CAPTURE_REFUSED 4

/* TDS_AttemptToPair results */
#define TDS_OK 0
#define TDS_FAILED (-1)
#define TDS_PENDING (-2)

typedef void* TDSdkHandle;

/* Called on the session thread; must not call TDS_Disconnect,
 * TDS_AttemptToPair or DestroyTDSdkHandle. */
typedef void(TDS_CALL* SelectThreadCallbackFn)(void* userData, int event, int value);

/* A screen rectangle in desktop pixels; right and bottom are exclusive. */
typedef struct TDS_RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} TDS_RECT;

typedef void(TDS_CALL* SetCaptureAreaFn)(void* capture, const TDS_RECT* area);

typedef struct CaptureHandler {
  void* capture;
  SetCaptureAreaFn setCaptureArea;
} CaptureHandler;

TDS_API TDSdkHandle TDS_CALL CreateTDSdkHandle(void);
TDS_API void TDS_CALL DestroyTDSdkHandle(TDSdkHandle handle);
/* Copies exactly 64 bytes: a zero-terminated password of up to 63 characters. */
TDS_API void TDS_CALL TDS_SetPassword(TDSdkHandle handle, const char* password64);
TDS_API void TDS_CALL TDS_SetSysMetric(TDSdkHandle handle, int32_t width, int32_t height);
TDS_API CaptureHandler TDS_CALL TDS_GetSetCaptureHandler(TDSdkHandle handle);
/* 0 connected at once, -2 under way, -1 failure. */
TDS_API int32_t TDS_CALL TDS_AttemptToPair(TDSdkHandle handle, const char* address, void* userData,
                                           SelectThreadCallbackFn callback);
TDS_API void TDS_CALL TDS_Disconnect(TDSdkHandle handle);
TDS_API int32_t TDS_CALL TDS_GetPairRejectedReason(TDSdkHandle handle);
TDS_API void TDS_CALL TDS_ReqToStartEncoding(TDSdkHandle handle);
TDS_API void TDS_CALL TDS_ReqToStopEncoding(TDSdkHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* TANDEO_TDSDK_H */
