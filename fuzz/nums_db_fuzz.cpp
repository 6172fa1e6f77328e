// Arbitrary nums.db contents through the store's reader.
#include <QCoreApplication>
#include <QFile>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

#include "app/save_datafile.h"

namespace {
void Quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
QString path;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qInstallMessageHandler(Quiet);
  path = QStringLiteral("/tmp/tandeo-fuzz-nums-%1.db").arg(getpid());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
    f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  CSaveDatafile store(path);
  QStringList list = store.readMeetingNumbers();
  // Every string costs at least four bytes of the file.
  if (static_cast<std::size_t>(list.size()) * 4 > size) abort();
  return 0;
}
