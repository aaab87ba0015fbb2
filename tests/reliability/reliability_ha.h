// The "ha" scenario of the reliability driver: two servers behind a real HAProxy under the load
// of well-behaved terminals, through a rolling restart and the loss of one instance.
#ifndef TAMRIX_TESTS_RELIABILITY_RELIABILITY_HA_H
#define TAMRIX_TESTS_RELIABILITY_RELIABILITY_HA_H

namespace tamrix::reliability {

// Runs the scenario against the balancer on gPorta; starts, restarts and stops the instances
// named by --instancias itself (options: see the source file's head). Prints its
// "reliability ha: ..." line and returns the exit code (1 when a check failed).
int CenarioHa();

}  // namespace tamrix::reliability

#endif  // TAMRIX_TESTS_RELIABILITY_RELIABILITY_HA_H
