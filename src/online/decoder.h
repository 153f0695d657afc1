// Starting the external MP3 decoder: an argument vector, never a shell.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "online/socket.h"

namespace velotag {

// The executable named name in programFolder, else the first one on PATH;
// empty when there is none.
std::string FindExecutable(const std::string& programFolder, const std::string& name);

// Runs argv[0] with the arguments as given, standard streams on /dev/null,
// and waits up to timeoutMs, pumping events meanwhile. A process still
// running then, or once keepGoing reads false, is killed. Returns the exit
// code, or -1 when it could not start, was killed or died of a signal.
int RunProcessAndWait(const std::vector<std::string>& argv, int timeoutMs, const PumpFn& pump,
                      const std::function<bool()>& keepGoing = {});

}  // namespace velotag
