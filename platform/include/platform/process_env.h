// The process's environment, for settings that libraries read from it.
#pragma once

namespace plat {

// Sets (overwrites) an environment variable of this process; false on error.
bool setEnvironmentVariable(const char* name, const char* value);

}  // namespace plat
