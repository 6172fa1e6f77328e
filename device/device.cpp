#include "device/device.h"

#include <cstring>

#include "platform/clock.h"

namespace device {

namespace {
struct DeviceThreadStart {
  Device* device;
};
// How long one accept waits before the thread looks at its run flag again.
constexpr long kAcceptPassUs = 20000;
}  // namespace

Device::Device(DeviceOptions options)
    : options_(std::move(options)), log_(options_.log), buffers_(new ConnectionBuffers) {
  // The device decodes the stream itself and passes it on to the caller's
  // sink, if there is one.
  receiver_.reset(new MediaReceiver(options_, options_.media, log_, script_));
  options_.media = receiver_.get();
}

Device::~Device() { stop(); }

bool Device::start(std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    log_(why);
    return false;
  };
  if (started_) return fail("the device was already started");
  std::string why;
  if (!receiver_->prepare(&why)) return fail(why);
  const std::string where = options_.bindAddress + ":" + std::to_string(TD_DEVICE_PORT);
  if (plat::ipv4FromText(options_.bindAddress.c_str()) == plat::kNoAddress &&
      options_.bindAddress != "255.255.255.255")
    return fail("cannot listen on " + where + ": not an IPv4 address");
  listener_ = plat::listenTcp(options_.bindAddress.c_str(), TD_DEVICE_PORT);
  if (listener_ == plat::kInvalidSocket) {
    int code = plat::lastNetErrorCode();
    return fail("cannot listen on " + where + ": " + std::strerror(code));
  }
  // A connection that goes away between the readiness wait and the accept
  // must not leave the thread blocked in accept.
  plat::setNonBlocking(listener_, true);
  running_ = true;
  auto* startRecord = new DeviceThreadStart{this};
  thread_ = plat::startThread(&Device::threadMain, startRecord);
  if (!thread_.valid()) {
    delete startRecord;
    running_ = false;
    plat::closeSocket(listener_);
    listener_ = plat::kInvalidSocket;
    return fail("cannot start the device thread");
  }
  started_ = true;
  std::string how = options_.rejectReason ? "refusing every pairing with reason " +
                                                std::to_string(*options_.rejectReason)
                    : options_.password ? "pairing with a password"
                                        : "pairing without a password";
  log_("listening on " + where + ", " + how);
  return true;
}

void Device::stop() {
  running_ = false;
  plat::joinThread(thread_);
  if (listener_ != plat::kInvalidSocket) {
    plat::closeSocket(listener_);
    listener_ = plat::kInvalidSocket;
    receiver_->finish();
    log_("stopped");
  }
}

std::uint32_t Device::threadMain(void* start) {
  Device* self = static_cast<DeviceThreadStart*>(start)->device;
  delete static_cast<DeviceThreadStart*>(start);
  self->run();
  return 0;
}

void Device::run() {
  int number = 0;
  while (running_) {
    plat::Socket s = plat::acceptConnection(listener_, kAcceptPassUs);
    if (s == plat::kInvalidSocket) {
      // A time-out, or a connection that went away before it was taken.
      if (plat::lastNetError() == plat::NetError::Other) plat::sleepMs(5);
      continue;
    }
    ++number;
    journal_.update([](DeviceState& st) { ++st.connectionsAccepted; });
    outbox_.setOpen(true);
    Connection(number, s, options_, journal_, log_, outbox_, *buffers_).serve(running_);
    outbox_.setOpen(false);
  }
}

bool Device::send(std::uint32_t type, std::vector<std::uint8_t> payload) {
  return outbox_.post(OutboxItem{OutboxItem::Send, type, std::move(payload)});
}

bool Device::sendEncodingParams(const EncodingRequest& params) {
  ParamsRecord record;
  buildParamsRecord(params, record);
  return send(TDMSG_START_ENCODING_ACK, std::vector<std::uint8_t>(record, record + sizeof record));
}

bool Device::sendBitRate(std::uint32_t bitsPerSecond) {
  std::vector<std::uint8_t> payload(4);
  td_put_be32(payload.data(), bitsPerSecond);
  return send(TDMSG_UPDATE_ENC_BITRATE_INDIC, std::move(payload));
}

bool Device::requestIntraPicture() { return send(TDMSG_VFU_REQ); }

bool Device::sendStopAck() { return send(TDMSG_STOP_ENCODING_ACK); }

bool Device::closeConnection() { return outbox_.post(OutboxItem{OutboxItem::Close, 0, {}}); }

}  // namespace device
