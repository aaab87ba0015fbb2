// The hostile scenario of the reliability driver: attacks from several clients at once while
// well-behaved terminals log in, query and upload sales files.
#ifndef TAMRIX_TESTS_RELIABILITY_RELIABILITY_HOSTILE_H
#define TAMRIX_TESTS_RELIABILITY_RELIABILITY_HOSTILE_H

namespace tamrix::reliability {

// Runs the scenario against the server of gPorta/gPid (options: see the source file's head),
// prints its "reliability hostile: ..." line and returns the exit code (1 when a check failed).
int CenarioHostil();

}  // namespace tamrix::reliability

#endif  // TAMRIX_TESTS_RELIABILITY_RELIABILITY_HOSTILE_H
