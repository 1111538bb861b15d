// SPDX-License-Identifier: MIT
// Opening device nodes and issuing SCSI generic pass-through requests.
// Nothing here throws: callers turn the results into errors.
#pragma once

#include <string>

class CCbwParam;

// Overlapped-operation record accepted (and ignored) by dev_io_ctl.
struct _OVERLAPPED;

class scsi_base {
public:
  // Opens the node read-write (close-on-exec); -1 on failure.
  static int open_handle(const std::string &path);
  static int open_handle(const std::wstring &path);
  // Closes the descriptor; always returns 1.
  static int close_handle(int fd);
  // ioctl(fd, request, in): 0 on success, -1 with errno on failure. The output
  // buffer, the lengths, the returned-byte counter and the overlapped record
  // are accepted and not used.
  static int dev_io_ctl(int fd, unsigned int request, void *in, unsigned int inLen, void *out,
                        unsigned int outLen, unsigned int *returned, _OVERLAPPED *overlapped);
  // Fills the sg_io_hdr at hdr (88 bytes, zeroed here) from cmd. The header
  // points into cmd's command block, so cmd must outlive the request.
  static void init_scsi_struct(CCbwParam &cmd, unsigned char *data, unsigned int timeout, void *hdr,
                               unsigned char *sense, unsigned int senseLen);
};
