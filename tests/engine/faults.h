// Fault injection over the system-call table: every entry of g_Sys counts
// its calls, and one (entry, call number) can be made to fail with a chosen
// error, the way the system reports it for that call (a failure result and
// the last error, or the error as the result for the registry calls).
#ifndef TESTS_ENGINE_FAULTS_H
#define TESTS_ENGINE_FAULTS_H

#include <windows.h>

// Puts the counting wrappers into g_Sys (once; the real functions stay
// behind them) and clears the counts and the armed fault.
void ResetFaults(void);
// The call-th call (1 = the first after ResetFaults) of entry fails.
void ArmFault(int entry, int call, DWORD error);
int FaultEntryCount(void);
const char* FaultEntryName(int entry);
int FaultEntryIndex(const char* name);  // -1 when there is none
int FaultCallCount(int entry);
// The real calls behind the wrappers (once ResetFaults has put them in): a
// test may put a stand-in there for a call the system it plays lacks.
struct SystemCalls;
SystemCalls* RealCalls(void);
// True once the armed fault has been delivered.
bool FaultDelivered(void);
// True when the status word already held a failure at that moment: the
// fault hit the roll-back of an earlier failure.
bool FaultHitRollBack(void);

#endif
