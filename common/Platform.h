// Small facilities the programs take from the operating system.
#pragma once

#include <string>

namespace tarvo {

// A fresh random GUID as 38 characters, braced and upper case
// ("{1B4E28BA-2FA1-11D2-883F-0016D3CCA427}"); "?" when none can be made.
std::string NewTraceId();

// Full path of the running executable; its folder with a trailing '/'.
std::string ExecutablePath();
std::string ExecutableFolder();

// True when no graphical session is present (neither DISPLAY nor
// WAYLAND_DISPLAY): the programs run offscreen and ask nobody anything.
bool IsSession0();

}  // namespace tarvo
