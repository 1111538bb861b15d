// SPDX-License-Identifier: MIT
#include "sdsmart/scsi_base.h"

#include "sdsmart/cbw_param.h"
#include "sdsmart/convert.h"
#include "transport/kernel_abi.h"
#include "transport/transfer_observer.h"

#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int scsi_base::open_handle(const std::string &path) {
  return ::open(path.c_str(), O_RDWR | O_CLOEXEC);
}

int scsi_base::open_handle(const std::wstring &path) { return open_handle(ToNarrowString(path)); }

int scsi_base::close_handle(int fd) {
  ::close(fd);
  return 1;
}

int scsi_base::dev_io_ctl(int fd, unsigned int request, void *in, unsigned int, void *,
                          unsigned int, unsigned int *, _OVERLAPPED *) {
  const int result = ::ioctl(fd, static_cast<unsigned long>(request), in);
  TransferObserver::Ioctl(request, in, result);
  return result;
}

void scsi_base::init_scsi_struct(CCbwParam &cmd, unsigned char *data, unsigned int timeout,
                                 void *hdr, unsigned char *sense, unsigned int senseLen) {
  // Filled in place: a header built aside and copied over would be read
  // back before its many small stores have landed, once a transfer.
  sg_io_hdr_t &io = *static_cast<sg_io_hdr_t *>(hdr);
  std::memset(&io, 0, sizeof io);
  io.interface_id = 'S';
  io.dxfer_direction = cmd.GetFlag() ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  io.cmd_len = static_cast<unsigned char>(cmd.GetCbdLen() & 0xFF);
  io.mx_sb_len = static_cast<unsigned char>(senseLen & 0xFF);
  io.iovec_count = 0;
  io.dxfer_len = cmd.GetTransLenInByte();
  io.dxferp = data;
  io.cmdp = cmd.GetCbd();
  io.sbp = sense;
  io.timeout = timeout;
}
