// SPDX-License-Identifier: MIT
#include "sdsmart/io_file.h"

#include "sdsmart/convert.h"
#include "util/error_catalogue.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const mode_t kNewFileMode = 0666; // the umask trims it as for any other tool
}

CIoFile::CIoFile() : handle(-1) {}

CIoFile::CIoFile(const std::string &path, unsigned int access, unsigned int creation,
                 unsigned int x, unsigned int y)
    : handle(-1) {
  Open(path, access, creation, x, y);
}

CIoFile::CIoFile(const std::wstring &path, unsigned int access, unsigned int creation,
                 unsigned int x, unsigned int y)
    : handle(-1) {
  Open(path, access, creation, x, y);
}

CIoFile::~CIoFile() { Close(); }

void CIoFile::Open(const std::string &path, unsigned int access, unsigned int creation,
                   unsigned int, unsigned int) {
  fileName = ToWideString(path);
  OpenNarrow(path, access | creation);
}

void CIoFile::Open(const std::wstring &path, unsigned int access, unsigned int creation,
                   unsigned int, unsigned int) {
  fileName = path;
  OpenNarrow(ToNarrowString(path), access | creation);
}

void CIoFile::OpenNarrow(const std::string &path, unsigned int flags) {
  Close();
  int fd;
  do
    fd = open(path.c_str(), static_cast<int>(flags) | O_CLOEXEC, kNewFileMode);
  while (fd == -1 && errno == EINTR);
  if (fd == -1)
    throw COpenFileError(fileName);
  handle = fd;
}

void CIoFile::Close() {
  if (handle != -1) {
    close(handle);
    handle = -1;
  }
}

void CIoFile::Write(const unsigned char *buf, unsigned int len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = write(handle, buf + done, len - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw MakeError(Errors::CannotWriteFile, {fileName});
    done += static_cast<size_t>(n);
  }
}

void CIoFile::ReadAll(unsigned char *buf, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = read(handle, buf + done, len - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      throw MakeError(Errors::CannotReadFile, {fileName});
    done += static_cast<size_t>(n);
  }
}

void CIoFile::Read(unsigned char *buf, unsigned int len) { ReadAll(buf, len); }

void CIoFile::WriteByte(unsigned char v) { Write(&v, 1); }

void CIoFile::WriteWord(unsigned short v) {
  unsigned char b[2] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)};
  Write(b, 2);
}

void CIoFile::WriteDWord(unsigned int v) {
  unsigned char b[4];
  for (int i = 0; i < 4; ++i)
    b[i] = static_cast<unsigned char>(v >> (8 * i));
  Write(b, 4);
}

unsigned char CIoFile::ReadByte() {
  unsigned char b;
  Read(&b, 1);
  return b;
}

unsigned short CIoFile::ReadWord() {
  unsigned char b[2];
  Read(b, 2);
  return static_cast<unsigned short>(b[0] | (b[1] << 8));
}

unsigned int CIoFile::ReadDWord() {
  unsigned char b[4];
  Read(b, 4);
  return static_cast<unsigned int>(b[0]) | (static_cast<unsigned int>(b[1]) << 8) |
         (static_cast<unsigned int>(b[2]) << 16) | (static_cast<unsigned int>(b[3]) << 24);
}

int CIoFile::Flush() { return fsync(handle); }

uint64_t CIoFile::GetSize() {
  struct stat st;
  if (stat(ToNarrowString(fileName).c_str(), &st) != 0)
    return 0;
  return static_cast<uint64_t>(st.st_size);
}

long CIoFile::Seek(long offset, int whence) { return lseek(handle, offset, whence); }

void CIoFile::WriteByteOrderMarkOfLittleEndian() {
  const unsigned char mark[2] = {0xFF, 0xFE};
  Write(mark, 2);
}

bool CIoFile::IsUTF16() {
  if (GetSize() < 2)
    return false;
  Seek(0, SEEK_SET);
  unsigned char mark[2];
  Read(mark, 2);
  return mark[0] == 0xFF && mark[1] == 0xFE;
}

void CIoFile::WriteString(const std::string &s) {
  Write(reinterpret_cast<const unsigned char *>(s.data()), static_cast<unsigned int>(s.size()));
}

void CIoFile::WriteString(const std::wstring &s) {
  Write(reinterpret_cast<const unsigned char *>(s.data()),
        static_cast<unsigned int>(s.size() * sizeof(wchar_t)));
}

void CIoFile::ReadString(std::string &s) {
  uint64_t size = GetSize();
  if (size == 0) {
    s.clear();
    return;
  }
  s.resize(size);
  Seek(0, SEEK_SET);
  ReadAll(reinterpret_cast<unsigned char *>(&s[0]), size);
}

void CIoFile::ReadString(std::wstring &s) {
  uint64_t size = GetSize();
  if (size < 4) {
    s.clear();
    return;
  }
  std::string bytes(size - 2, '\0');
  Seek(2, SEEK_SET);
  ReadAll(reinterpret_cast<unsigned char *>(&bytes[0]), bytes.size());
  s.resize(size / 2 - 1);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
}

CIoFile &CIoFile::operator<<(const std::wstring &s) {
  WriteString(s);
  return *this;
}

CIoFile &CIoFile::operator<<(wchar_t c) {
  Write(reinterpret_cast<const unsigned char *>(&c), sizeof c);
  return *this;
}

CIoFile &CIoFile::operator<<(int v) {
  WriteString(IntegerToWideString(v));
  return *this;
}

CIoFile &CIoFile::operator<<(unsigned int v) { return *this << static_cast<int>(v); }
CIoFile &CIoFile::operator<<(long v) { return *this << static_cast<int>(v); }
CIoFile &CIoFile::operator<<(unsigned long v) { return *this << static_cast<int>(v); }

CNewFile::CNewFile(const std::wstring &path) : CIoFile(path, O_RDWR, O_CREAT | O_TRUNC, 0, 0) {}

bool CIoFile::IsOpen() { return handle != -1; }

bool CIoFile::IsValidFileHandle() { return handle != -1; }

int CIoFile::GetHandle() { return handle; }

const std::wstring &CIoFile::GetFileName() { return fileName; }

void CIoFile::Write(unsigned char *buf, unsigned int len) {
  Write(static_cast<const unsigned char *>(buf), len);
}
