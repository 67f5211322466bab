// Arms the platform's last-resort crash handling: a fault that nothing else handles leaves a
// minidump in the user's local application data folder and reaches the crash notification.
#pragma once

namespace srctally::platform {

/// Installs the crash handler and hardens the heap where the platform can.
///
/// Windows: makes CrashDumpFilter the unhandled-exception filter, asks for termination on
/// heap corruption and for the low-fragmentation process heap (results ignored).
///
/// POSIX: catches SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on an alternate stack and
/// computes ahead everything the handler may not compute after a crash (the identity from
/// the provider, the local application data folder, the UTC offset, system facts). Set the
/// identity provider first; without it, or if it fails, no dump is written and the
/// signal's default action follows. A signal sent by another process (kill -SEGV) is no
/// crash of ours: it writes no dump and takes its default action at once.
///
/// Once a dump is written the notification is called with its path; when there is no
/// notification, or it returns, or no dump could be written, the platform's default crash
/// handling follows. A failed attempt leaves no file behind and keeps the reason in the
/// last error.
void InstallCrashHandler();

/// The architecture piece of dump names for this build: "_x64", "_arm64" or "_x86".
const char16_t* CrashArchitectureSuffix();

}  // namespace srctally::platform
