#include "platform/process_env.h"

#include <stdlib.h>

namespace plat {

bool setEnvironmentVariable(const char* name, const char* value) { return setenv(name, value, 1) == 0; }

// X11 and the portal hand out real pixels.
void declareDpiAware() {}

}  // namespace plat
