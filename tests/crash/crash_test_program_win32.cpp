// No error window for a crash made on purpose.
#include <windows.h>

void PrepareForDeliberateCrash() { ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX); }

void LimitFileSize() {}

// The Windows crash filter runs outside any signal handler; allocations there are fine.
void ForbidAllocation() {}

void AwaitFatalSignalFromAnotherProcess() {}
