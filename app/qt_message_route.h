#pragma once

#include <QtGlobal>

// Makes handler Qt's message handler (on = true), or gives Qt back the
// handler that was installed before (on = false). At exit the previous one
// is put back, so that messages written by static destructors never reach a
// log back-end that is gone. Shared by the log back-ends.
void routeQtMessages(QtMessageHandler handler, bool on);
