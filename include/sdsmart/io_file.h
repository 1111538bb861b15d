// SPDX-License-Identifier: MIT
// CIoFile: owner of one POSIX file descriptor with all-or-nothing reads and
// writes, little-endian scalars and whole-file text reads. CNewFile always
// creates or truncates its file.
#pragma once

#include <cstdint>
#include <string>

class CIoFile {
public:
  CIoFile();
  // access and creation are open(2) flags (O_RDONLY/O_RDWR, O_CREAT|O_TRUNC,
  // ...), or-ed together; the last two arguments are unused.
  CIoFile(const std::string &path, unsigned int access, unsigned int creation, unsigned int = 0,
          unsigned int = 0);
  CIoFile(const std::wstring &path, unsigned int access, unsigned int creation, unsigned int = 0,
          unsigned int = 0);
  ~CIoFile();
  CIoFile(const CIoFile &) = delete;
  CIoFile &operator=(const CIoFile &) = delete;

  // Closes any open descriptor first. New files get mode 0666 less the umask;
  // the descriptor is close-on-exec. Throws COpenFileError on failure.
  void Open(const std::string &path, unsigned int access, unsigned int creation, unsigned int = 0,
            unsigned int = 0);
  void Open(const std::wstring &path, unsigned int access, unsigned int creation, unsigned int = 0,
            unsigned int = 0);
  bool IsOpen();
  bool IsValidFileHandle();
  void Close();

  int GetHandle();
  const std::wstring &GetFileName();

  // All len bytes or a CError (code -1).
  void Write(unsigned char *buf, unsigned int len);
  void Write(const unsigned char *buf, unsigned int len);
  void Read(unsigned char *buf, unsigned int len);

  void WriteByte(unsigned char v);
  void WriteWord(unsigned short v);
  void WriteDWord(unsigned int v);
  unsigned char ReadByte();
  unsigned short ReadWord();
  unsigned int ReadDWord();

  int Flush();
  // Size of the named file; 0 when it cannot be examined.
  uint64_t GetSize();
  long Seek(long offset, int whence);

  void WriteByteOrderMarkOfLittleEndian(); // FF FE
  bool IsUTF16();                          // starts FF FE; leaves the position after it

  void WriteString(const std::string &s);
  // The raw wide characters: 4 bytes each.
  void WriteString(const std::wstring &s);
  // The whole file as bytes.
  void ReadString(std::string &s);
  // The whole file as UTF-16LE units after a 2-byte mark (not checked), one
  // wide character per unit.
  void ReadString(std::wstring &s);

  CIoFile &operator<<(const std::wstring &s);
  CIoFile &operator<<(wchar_t c);
  // Written as the decimal wide text of the value taken as a 32-bit int.
  CIoFile &operator<<(int v);
  CIoFile &operator<<(unsigned int v);
  CIoFile &operator<<(long v);
  CIoFile &operator<<(unsigned long v);

private:
  void OpenNarrow(const std::string &path, unsigned int flags);
  void ReadAll(unsigned char *buf, size_t len);

  int handle;
  std::wstring fileName;
};

class CNewFile : public CIoFile {
public:
  explicit CNewFile(const std::wstring &path);
};
