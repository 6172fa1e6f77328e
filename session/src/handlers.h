// Handlers of the device's messages, called by the session thread's dispatch.
#pragma once
#include <cstdint>

#include "tdsdk.h"

class CH239Info;

// Where status events go: the caller's callback and its user data.
struct CallbackTarget {
  void* userData;
  SelectThreadCallbackFn callback;
  void fire(int event, int value) const {
    if (callback) callback(userData, event, value);
  }
};

// Pairing.
void SendPairBanner(CH239Info& session);
void OnPairRejected(CH239Info& session, std::uint32_t type);
void OnPairSucceedIndication(CH239Info& session);
void OnPasswordChallenge(CH239Info& session, const unsigned char* payload, std::uint32_t length);

// Encoding control.
void OnStartEncodingAck(CH239Info& session, const CallbackTarget& target, const unsigned char* payload,
                        std::uint32_t length);
void OnStopEncodingAck(CH239Info& session, const CallbackTarget& target);
void OnVideoFastUpdateRequest(CH239Info& session);
void OnBitrateIndication(CH239Info& session, const unsigned char* payload, std::uint32_t length);

// Appends a received chunk and handles every complete frame in it. False when
// a frame declares a length that can never fit the receive buffer: the
// connection cannot go on.
bool OnRecvData(const CallbackTarget& target, CH239Info& session, const unsigned char* bytes, std::size_t count);
// The same for bytes already received into the buffer's free space.
bool OnRecvCommitted(const CallbackTarget& target, CH239Info& session, std::size_t count);
