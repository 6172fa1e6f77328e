// Arbitrary bytes from a device, in arbitrary chunks, through frame
// reassembly and dispatch.
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

#include "h239_info.h"
#include "handlers.h"

namespace {
void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qInstallMessageHandler(Quiet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CH239Info* session = new CH239Info;
  const CallbackTarget target{nullptr, nullptr};
  session->recvBuffer_.clear();
  // The first byte picks the chunk size, so frames split at every place.
  std::size_t chunk = size ? 1 + data[0] * 131 : 1;
  for (std::size_t off = size ? 1 : 0; off < size; off += chunk) {
    std::size_t n = size - off < chunk ? size - off : chunk;
    if (n > session->recvBuffer_.room() || !OnRecvData(target, *session, data + off, n)) {
      session->recvBuffer_.clear();
    }
  }
  // Each input starts from an unpaired session; a codec thread that an
  // acknowledgement started is ended here.
  session->StopCodecThread();
  session->setH239Status(TDH239_IDLE);
  session->connStatus_ = TDH239_CONNECTION_NONE;
  return 0;
}
