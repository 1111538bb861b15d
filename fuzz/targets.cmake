# SPDX-License-Identifier: MIT
# The fuzz targets and, for each, the C library calls of the library it
# redirects at link time to its own __wrap_<symbol>. Read by fuzz/ (the
# fuzzers) and tests/hardening (their replays in the suite).
set(sdsmart_fuzz_targets config convert registers mount smart_file statistics smart_card)
set(sdsmart_fuzz_wrap_mount setmntent)
set(sdsmart_fuzz_wrap_smart_card open ioctl read close setmntent)
