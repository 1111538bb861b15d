// SPDX-License-Identifier: MIT
#include "sdsmart/sd_host_io.h"

// Defined here so that the interface's vtable and type information live in
// the library, where a host deriving from it finds them.
CSdHostIo::~CSdHostIo() {}
