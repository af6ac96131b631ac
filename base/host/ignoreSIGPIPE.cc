// Makes writes to a closed pipe fail with EPIPE instead of ending the process.
#include <signal.h>
#include <string.h>

#include "baseutil.h"
#include "shims.h"

extern "C" void ignoreSIGPIPE(void) {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGPIPE, &action, nullptr) != 0)
    elog_die(1, "Unexpected failure: file %s, line %d\n", "ignoreSIGPIPE", __LINE__);
}
