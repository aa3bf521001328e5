// The scripted kernel behind the tests' copy of the real-port library: ppdev's
// /dev/parport0, free to claim, with every status line reading 0.
#include "fake_kernel.h"

parport::PortSystem& parport::TheSystem() {
    static FakeKernel kernel;
    return kernel;
}
