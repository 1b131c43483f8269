// Names of every command-line switch the program reads.
#pragma once

namespace vesk::switches {

inline constexpr char kVeskStartup[] = "vesk-startup";
inline constexpr char kUploadExtension[] = "upload-extension";
inline constexpr char kPackageDirSuffix[] = "-package-dir";
inline constexpr char kVeskDebugOnStartup[] = "vesk-debug-on-startup";
inline constexpr char kVeskWaitForDebuggerTime[] = "vesk-wait-for-debugger-time";
inline constexpr char kForceCrash[] = "force-crash";
inline constexpr char kEnableMemoryTrace[] = "enable-memory-trace";
inline constexpr char kMemoryTraceElapse[] = "memory-trace-elapse";
inline constexpr char kForceShowWindow[] = "force-show-window";
inline constexpr char kEraseShadowFrame[] = "erase-shadow-frame";
inline constexpr char kForceAeroStyle[] = "force-aero-style";
inline constexpr char kEnableDevTools[] = "enable-dev-tools";
inline constexpr char kEnableInvokeTrace[] = "enable-invoke-trace";
inline constexpr char kShowUpdatePackageDetail[] = "show-update-package-detail";
inline constexpr char kV[] = "v";
inline constexpr char kVmodule[] = "vmodule";

// The value of vesk-startup that asks the process to end.
inline constexpr char kExitProcessValue[] = "exit-process";

}  // namespace vesk::switches
