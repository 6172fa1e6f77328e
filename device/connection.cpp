#include "device/connection.h"

#include <cstring>
#include <random>

#include "device/media_sink.h"
#include "device/resolution.h"
#include "platform/clock.h"

namespace device {

namespace {

// After refusing a pairing the device half-closes and gives the sender this
// long to read the refusal and leave, so that it is never cut off by a reset.
constexpr std::int64_t kDrainUs = 2000000;
// Longest wait of one pass: posted messages and a stop are seen this soon.
constexpr long kPassUs = 20000;
// A sender that takes nothing for this long is treated as gone.
constexpr std::int64_t kSendLimitUs = 3000000;

std::uint32_t refusalType(int reason) {
  switch (reason) {
    case 1: return TDMSG_PAIR_REJECTED_1;
    case 2: return TDMSG_PAIR_REJECTED_2;
    case 3: return TDMSG_PAIR_REJECTED_3;
    default: return TDMSG_PAIR_REJECTED;
  }
}

std::string describe(const EncodingRequest& r) {
  int w = 0, h = 0;
  resolutionSize(static_cast<int>(r.resolutionCode), &w, &h);
  return "mode " + std::to_string(r.mode) + ", resolution " + std::to_string(r.resolutionCode) +
         " (" + std::to_string(w) + "x" + std::to_string(h) + "), profile " +
         std::to_string(r.profile) + ", " + std::to_string(r.frameRate) + "/" +
         std::to_string(r.frameRateDivisor) + " fps, " + std::to_string(r.bitRate) +
         " bit/s, packets up to " + std::to_string(r.maxPacketSize) + " bytes";
}

}  // namespace

std::string messageName(std::uint32_t type) {
  switch (type) {
    case TDMSG_PAIR_REJECTED: return "pair-rejected";
    case TDMSG_PAIR_SUCCEED_INDIC: return "pair-succeed";
    case TDMSG_PAIR_BANNER: return "banner";
    case TDMSG_PASSWORD_CHALLENGE: return "password challenge";
    case TDMSG_PASSWORD_DIGEST: return "password answer";
    case TDMSG_START_ENCODING_REQ: return "start request";
    case TDMSG_START_ENCODING_ACK: return "encoding parameters";
    case TDMSG_MEDIA: return "media";
    case TDMSG_KEEPALIVE: return "keep-alive";
    case TDMSG_STOP_ENCODING_REQ: return "stop request";
    case TDMSG_STOP_ENCODING_ACK: return "stop acknowledgement";
    case TDMSG_VFU_REQ: return "intra picture request";
    case TDMSG_UPDATE_ENC_BITRATE_INDIC: return "bit-rate change";
    case TDMSG_PAIR_REJECTED_1: return "pair-rejected (reason 1)";
    case TDMSG_PAIR_REJECTED_2: return "pair-rejected (reason 2)";
    case TDMSG_PAIR_REJECTED_3: return "pair-rejected (reason 3)";
    default: return "type " + std::to_string(type);
  }
}

Connection::Connection(int number, plat::Socket socket, const DeviceOptions& options,
                       DeviceJournal& journal, const DeviceLog& log, Outbox& outbox,
                       ConnectionBuffers& buffers)
    : number_(number),
      socket_(socket),
      options_(options),
      journal_(journal),
      log_(log),
      outbox_(outbox),
      buffers_(buffers) {}

void Connection::say(const std::string& line) const { log_("#" + std::to_string(number_) + " " + line); }

void Connection::protocolError(const std::string& what) {
  say("protocol error: " + what);
  journal_.update([](DeviceState& s) { ++s.protocolErrors; });
}

void Connection::serve(const std::atomic<bool>& keepRunning) {
  plat::setNonBlocking(socket_, true);
  buffers_.reader.reset();
  journal_.update([](DeviceState& s) {
    s.connected = true;
    s.paired = s.streaming = false;
  });
  say("sender connected");

  const std::int64_t keepAliveUs = std::int64_t(options_.keepAliveMs) * 1000;
  const std::int64_t peerTimeoutUs = std::int64_t(options_.peerTimeoutMs) * 1000;
  std::int64_t now = plat::monotonicUs();
  std::int64_t lastHeardUs = now;
  std::int64_t nextKeepAliveUs = now + keepAliveUs;
  std::int64_t drainUntilUs = 0;
  std::uint64_t keepAlives = 0, media = 0, mediaBytes = 0;
  std::string ending;

  auto onFrame = [&](const Frame& f) {
    if (f.type == TDMSG_KEEPALIVE) {
      ++keepAlives;
    } else if (f.type == TDMSG_MEDIA) {
      ++media;
      mediaBytes += f.length;
    }
    handle(f);
  };

  while (ending.empty()) {
    if (!keepRunning) {
      ending = "the device is stopping";
      break;
    }
    for (const OutboxItem& item : outbox_.takeAll()) {
      if (item.kind == OutboxItem::Close) {
        ending = "closed by the device";
        break;
      }
      if (!draining_) sendPosted(item);
    }
    if (!ending.empty()) break;

    long waitUs = kPassUs;
    if (keepAliveUs > 0 && !draining_) {
      std::int64_t untilKeepAlive = nextKeepAliveUs - plat::monotonicUs();
      if (untilKeepAlive < waitUs) waitUs = untilKeepAlive > 0 ? static_cast<long>(untilKeepAlive) : 0;
    }
    int ready = plat::waitReadable(socket_, waitUs);
    now = plat::monotonicUs();
    if (ready < 0) {
      ending = "waiting on the socket failed (error " + std::to_string(plat::lastNetErrorCode()) + ")";
      break;
    }
    if (ready > 0) {
      long n = plat::recvSome(socket_, buffers_.receive, ConnectionBuffers::kReceiveSize);
      if (n == 0) {
        ending = draining_ ? "the sender left after the refusal" : "the sender closed the connection";
        break;
      }
      if (n < 0) {
        plat::NetError e = plat::lastNetError();
        if (e != plat::NetError::WouldBlock && e != plat::NetError::TryAgain)
          ending = "receive failed (error " + std::to_string(plat::lastNetErrorCode()) + ")";
        continue;
      }
      lastHeardUs = now;
      // After a refusal the sender's remaining bytes are read and dropped.
      if (!draining_ &&
          buffers_.reader.feed(buffers_.receive, static_cast<std::size_t>(n), onFrame) ==
              FrameReader::Result::Oversized) {
        protocolError("declared payload length " + std::to_string(buffers_.reader.refusedLength()) +
                      " exceeds " + std::to_string(buffers_.reader.maxPayload()) +
                      "; the stream cannot be followed");
        ending = "closed after the oversized frame";
        break;
      }
    }
    if (broken_) {
      ending = "sending to the sender failed";
      break;
    }
    if (draining_) {
      if (drainUntilUs == 0) drainUntilUs = now + kDrainUs;
      if (now >= drainUntilUs) ending = "the sender did not leave after the refusal";
      continue;
    }
    if (keepAliveUs > 0 && now >= nextKeepAliveUs) {
      sendFrame(TDMSG_KEEPALIVE, nullptr, 0);
      journal_.update([](DeviceState& s) { ++s.keepAlivesSent; });
      if (options_.verbose) say("sent keep-alive");
      nextKeepAliveUs += keepAliveUs;
      if (nextKeepAliveUs <= now) nextKeepAliveUs = now + keepAliveUs;
    }
    if (peerTimeoutUs > 0 && now - lastHeardUs > peerTimeoutUs)
      ending = "nothing from the sender for " + std::to_string(options_.peerTimeoutMs / 1000) + " s";
  }

  if (streaming_) stopStream(false);
  plat::closeSocket(socket_);
  socket_ = plat::kInvalidSocket;
  journal_.update([](DeviceState& s) {
    s.connected = s.paired = s.streaming = false;
    ++s.connectionsEnded;
  });
  say("connection ended: " + ending + " (" + std::to_string(keepAlives) + " keep-alives, " +
      std::to_string(media) + " media messages, " + std::to_string(mediaBytes) + " media bytes received)");
}

void Connection::handle(const Frame& f) {
  if (draining_) return;
  if (f.type == TDMSG_KEEPALIVE) {
    journal_.update([](DeviceState& s) { ++s.keepAlivesReceived; });
    if (options_.verbose) say("got keep-alive");
    if (f.length) protocolError("keep-alive with " + std::to_string(f.length) + " payload bytes");
    return;
  }
  if (f.type == TDMSG_MEDIA) {
    journal_.update([&](DeviceState& s) {
      ++s.mediaReceived;
      s.mediaBytes += f.length;
    });
    if (options_.verbose) say("got media message, " + std::to_string(f.length) + " bytes");
    if (f.length < 12) protocolError("media message of " + std::to_string(f.length) + " bytes, shorter than an RTP header");
    else if (options_.media) options_.media->mediaPacket(f.payload, f.length);
    return;
  }

  ReceivedMessage m{number_, f.type, std::vector<std::uint8_t>(f.payload, f.payload + f.length),
                    plat::monotonicUs()};
  journal_.update([&](DeviceState& s) { s.messages.push_back(std::move(m)); });
  if (f.type == TDMSG_PAIR_BANNER)
    say("got banner " + quotedText(f.payload, f.length));
  else
    say("got " + messageName(f.type) + ", " + std::to_string(f.length) + " payload bytes");

  if (!bannerSeen_ && f.type != TDMSG_PAIR_BANNER)
    protocolError(messageName(f.type) + " before the banner");
  switch (f.type) {
    case TDMSG_PAIR_BANNER: onBanner(f); break;
    case TDMSG_PASSWORD_DIGEST: onDigest(f); break;
    case TDMSG_START_ENCODING_REQ:
      if (f.length) protocolError("start request with " + std::to_string(f.length) + " payload bytes");
      onStartRequest();
      break;
    case TDMSG_STOP_ENCODING_REQ:
      if (f.length) protocolError("stop request with " + std::to_string(f.length) + " payload bytes");
      onStopRequest();
      break;
    default:
      protocolError(messageName(f.type) + " is not a message that a sender sends; ignored");
  }
}

void Connection::onBanner(const Frame& f) {
  if (bannerSeen_) {
    protocolError("a second banner; ignored");
    return;
  }
  bannerSeen_ = true;
  const std::size_t want = std::strlen(TD_PAIR_BANNER);
  if (f.length != want || std::memcmp(f.payload, TD_PAIR_BANNER, want) != 0)
    protocolError("banner " + quotedText(f.payload, f.length) + ", expected \"" TD_PAIR_BANNER "\"");
  if (options_.rejectReason)
    refuse(*options_.rejectReason);
  else if (options_.password)
    sendChallenge();
  else
    accept();
}

void Connection::sendChallenge() {
  std::random_device random;
  for (std::size_t i = 0; i < sizeof challenge_; i += 4) {
    std::uint32_t r = random();
    std::memcpy(challenge_ + i, &r, 4);
  }
  challengePending_ = true;
  sendFrame(TDMSG_PASSWORD_CHALLENGE, challenge_, sizeof challenge_);
  journal_.update([](DeviceState& s) { ++s.challengesSent; });
  say("sent password challenge " + hexBytes(challenge_, sizeof challenge_));
}

void Connection::onDigest(const Frame& f) {
  if (!challengePending_) {
    protocolError("a password answer without a challenge; ignored");
    return;
  }
  challengePending_ = false;
  // The answer is MD5 over the challenge followed by the password's characters.
  Md5 h;
  h.update(challenge_, sizeof challenge_);
  h.update(options_.password->data(), options_.password->size());
  std::uint8_t expected[kMd5Size];
  h.finish(expected);
  if (f.length != kMd5Size) protocolError("password answer of " + std::to_string(f.length) + " bytes, expected 16");
  if (f.length == kMd5Size && std::memcmp(f.payload, expected, kMd5Size) == 0) {
    journal_.update([](DeviceState& s) { ++s.rightAnswers; });
    say("password answer is right");
    accept();
    return;
  }
  journal_.update([](DeviceState& s) { ++s.wrongAnswers; });
  say("password answer is wrong: got " + hexBytes(f.payload, f.length) + ", expected " +
      hexBytes(expected, kMd5Size));
  refuse(kRejectWrongPassword);
}

void Connection::accept() {
  paired_ = true;
  sendFrame(TDMSG_PAIR_SUCCEED_INDIC, nullptr, 0);
  journal_.update([](DeviceState& s) { s.paired = true; });
  say("pairing accepted");
}

void Connection::refuse(int reason) {
  sendFrame(refusalType(reason), nullptr, 0);
  journal_.update([](DeviceState& s) { ++s.rejectionsSent; });
  say("pairing refused with reason " + std::to_string(reason) + "; closing once the sender leaves");
  // Half-close: the sender reads the refusal, then the end of the stream.
  plat::shutdownSend(socket_);
  draining_ = true;
}

void Connection::onStartRequest() {
  if (!paired_) {
    say("start request before pairing; ignored");
    return;
  }
  ParamsRecord record;
  buildParamsRecord(options_.encoding, record);
  sendParams(record, sizeof record);
}

void Connection::sendParams(const std::uint8_t* record, std::uint32_t length) {
  EncodingRequest params = parseParamsRecord(record, length);
  if (!sendFrame(TDMSG_START_ENCODING_ACK, record, length)) return;
  say("sent encoding parameters: " + describe(params));
  if (!paired_) return;
  streaming_ = true;
  journal_.update([](DeviceState& s) { s.streaming = true; });
  if (options_.media) options_.media->streamStarted(params);
}

void Connection::onStopRequest() {
  if (!streaming_) {
    say("stop request while not streaming; ignored");
    return;
  }
  stopStream(true);
}

void Connection::stopStream(bool acknowledge) {
  streaming_ = false;
  if (acknowledge) {
    sendFrame(TDMSG_STOP_ENCODING_ACK, nullptr, 0);
    say("sent stop acknowledgement");
  }
  journal_.update([](DeviceState& s) { s.streaming = false; });
  if (options_.media) options_.media->streamStopped();
}

void Connection::sendPosted(const OutboxItem& item) {
  if (item.payload.size() > TD_MAX_SEND_PAYLOAD) {
    say("not sending " + messageName(item.type) + ": payload longer than " +
        std::to_string(TD_MAX_SEND_PAYLOAD) + " bytes");
    return;
  }
  const auto length = static_cast<std::uint32_t>(item.payload.size());
  if (item.type == TDMSG_START_ENCODING_ACK) {
    sendParams(item.payload.data(), length);
    return;
  }
  if (item.type == TDMSG_STOP_ENCODING_ACK && streaming_) {
    stopStream(true);
    return;
  }
  if (!sendFrame(item.type, item.payload.data(), length)) return;
  if (item.type == TDMSG_UPDATE_ENC_BITRATE_INDIC && length >= 4)
    say("sent bit-rate change to " + std::to_string(td_get_be32(item.payload.data())) + " bit/s");
  else
    say("sent " + messageName(item.type) + ", " + std::to_string(length) + " payload bytes");
}

bool Connection::sendFrame(std::uint32_t type, const void* payload, std::uint32_t length) {
  if (broken_) return false;
  std::uint8_t* frame = buffers_.send;
  td_put_be32(frame, type);
  td_put_be32(frame + 4, length);
  if (length) std::memcpy(frame + TD_FRAME_HEADER_SIZE, payload, length);
  const std::size_t total = TD_FRAME_HEADER_SIZE + std::size_t(length);
  std::size_t sent = 0;
  const std::int64_t giveUpUs = plat::monotonicUs() + kSendLimitUs;
  while (sent < total) {
    long n = plat::sendSome(socket_, frame + sent, total - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    plat::NetError e = plat::lastNetError();
    bool retry = n < 0 && (e == plat::NetError::WouldBlock || e == plat::NetError::TryAgain);
    if (!retry || plat::monotonicUs() >= giveUpUs) {
      say(retry ? "the sender takes nothing for 3 s"
                : "send failed (error " + std::to_string(plat::lastNetErrorCode()) + ")");
      broken_ = true;
      return false;
    }
    plat::waitWritable(socket_, 10000);
  }
  return true;
}

}  // namespace device
