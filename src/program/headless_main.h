#pragma once

namespace lt {

// `linetap --headless`: capture, relay and record without a window, until SIGINT or SIGTERM.
int headlessMain(int argc, char* argv[]);

}  // namespace lt
