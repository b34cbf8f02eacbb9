#pragma once
// The program's start-up: creates every window once in its fixed order, connects to
// the host once, runs the message loop, and takes everything down at the end.
#include <windows.h>

namespace vk::app {

int RunProgram(HINSTANCE instance, int argc, char** argv);

}  // namespace vk::app
