// Encoding control: the device's acknowledgements and requests while paired.
#include "h239_info.h"
#include "handlers.h"

// Streaming is not wired yet: these messages get only the dispatch's log line.
void OnStartEncodingAck(CH239Info&, const CallbackTarget&, const unsigned char*, std::uint32_t) {}
void OnStopEncodingAck(CH239Info&, const CallbackTarget&) {}
void OnVideoFastUpdateRequest(CH239Info&) {}
void OnBitrateIndication(CH239Info&, const unsigned char*, std::uint32_t) {}
