#include "transport/cbw_param.h"
#include "transport/kernel_abi.h"
#include "transport/scsi_base.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TEST(ScsiBaseTest, InitScsiStructFillsTheHeader) {
  struct Case {
    bool in;
    unsigned int len;
    bool withData;
    unsigned int cbdLen, timeout, senseLen;
    int direction;
  };
  const Case cases[] = {
      {true, 8, true, 10, 2000, 32, SG_DXFER_FROM_DEV},
      {false, 1024, true, 10, 6000, 24, SG_DXFER_TO_DEV},
      {false, 0, false, 6, 6, 32, SG_DXFER_TO_DEV},
      {true, 0, false, 0x106, 0, 0x120, SG_DXFER_FROM_DEV}, // low bytes only
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.len);
    CCbwParam cmd;
    cmd.Reset();
    cmd.SetTransLenInByte(c.len);
    cmd.SetFlag(c.in);
    cmd.SetCbdLen(c.cbdLen);
    unsigned char data[1024];
    unsigned char sense[32];
    sg_io_hdr_t io;
    std::memset(&io, 0xA5, sizeof io);
    scsi_base::init_scsi_struct(cmd, c.withData ? data : nullptr, c.timeout, &io, sense,
                                c.senseLen);
    EXPECT_EQ(io.interface_id, 'S');
    EXPECT_EQ(io.dxfer_direction, c.direction);
    EXPECT_EQ(io.cmd_len, c.cbdLen & 0xFF);
    EXPECT_EQ(io.mx_sb_len, c.senseLen & 0xFF);
    EXPECT_EQ(io.iovec_count, 0);
    EXPECT_EQ(io.dxfer_len, c.len);
    EXPECT_EQ(io.dxferp, c.withData ? static_cast<void *>(data) : nullptr);
    EXPECT_EQ(io.cmdp, cmd.GetCbd());
    EXPECT_EQ(io.sbp, sense);
    EXPECT_EQ(io.timeout, c.timeout);
    EXPECT_EQ(io.flags, 0u);
    EXPECT_EQ(io.status, 0);
    EXPECT_EQ(io.resid, 0);
    EXPECT_EQ(io.usr_ptr, nullptr);
  }
}

TEST(ScsiBaseTest, OpenHandleIsReadWriteAndCloseOnExec) {
  char path[] = "/tmp/sdsmart_transport_XXXXXX";
  const int tmp = mkstemp(path);
  ASSERT_NE(tmp, -1);
  close(tmp);
  for (int wide = 0; wide < 2; ++wide) {
    const int fd = wide ? scsi_base::open_handle(std::wstring(path, path + std::strlen(path)))
                        : scsi_base::open_handle(std::string(path));
    ASSERT_NE(fd, -1);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(scsi_base::close_handle(fd), 1);
    EXPECT_EQ(scsi_base::close_handle(fd), 1); // already closed: still 1
  }
  unlink(path);
}

TEST(ScsiBaseTest, FailuresAreReportedNotThrown) {
  EXPECT_EQ(scsi_base::open_handle(std::wstring(L"/no/such/node")), -1);
  EXPECT_EQ(scsi_base::open_handle(std::string("/no/such/node")), -1);
  EXPECT_EQ(scsi_base::close_handle(-1), 1);
  sg_io_hdr_t io;
  std::memset(&io, 0, sizeof io);
  unsigned int returned = 1234;
  errno = 0;
  EXPECT_EQ(scsi_base::dev_io_ctl(-1, SG_IO, &io, sizeof io, &io, sizeof io, &returned, nullptr),
            -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(returned, 1234u); // the counter is not written
}
