#include "util/io_file.h"

#include "temp_dir.h"
#include "util/error.h"

#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ByteList = std::vector<unsigned char>;

void Put(const std::string &path, const ByteList &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

ByteList Get(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return ByteList(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The error a call throws: its code and text (code 0: none thrown).
std::pair<int64_t, std::wstring> ErrorOf(const std::function<void()> &f) {
  try {
    f();
  } catch (const CError &e) {
    return {e.GetCode(), e.GetText()};
  }
  return {0, L""};
}

int OpenDescriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d))
      ++n;
    closedir(d);
  }
  return n;
}

} // namespace

TEST(CIoFileTest, ReadsTextAndTheUtf16Mark) {
  TempDir dir;
  const struct {
    ByteList bytes;
    std::wstring text; // as 16-bit units after the mark
    bool utf16;
  } cases[] = {
      {{0xFF, 0xFE, 0x41, 0x00, 0x42, 0x00}, L"AB", true},
      {{0xFF, 0xFE, 0x41, 0x00, 0x42}, L"A", true},
      {{0xFF, 0xFE, 0xE9, 0x00, 0x4E, 0x2D}, L"\u00E9\u2D4E", true},
      {{0xFF, 0xFE, 0x41}, L"", true},
      {{}, L"", false},
      {{0xFF}, L"", false},
      // No check of the mark; surrogates stay separate units.
      {{0xFE, 0xFF, 0x3D, 0xD8, 0x00, 0xDE}, std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.bytes.size());
    Put(dir.File("t"), c.bytes);
    CIoFile file(dir.File("t"), O_RDONLY, 0);
    std::wstring text = L"stale";
    file.ReadString(text);
    EXPECT_EQ(text, c.text);
    CIoFile marked(dir.File("t"), O_RDONLY, 0);
    EXPECT_EQ(marked.IsUTF16(), c.utf16);
  }
  Put(dir.File("n"), {'a', 0, 'b'});
  CIoFile narrow(dir.File("n"), O_RDONLY, 0);
  std::string s = "stale";
  narrow.ReadString(s);
  EXPECT_EQ(s, std::string("a\0b", 3));
  Put(dir.File("m"), {0xFF, 0xFE, 0x41});
  CIoFile marked(dir.File("m"), O_RDONLY, 0);
  ASSERT_TRUE(marked.IsUTF16());
  EXPECT_EQ(marked.ReadByte(), 0x41); // the position is after the mark
}

TEST(CIoFileTest, LittleEndianScalarsAndWideWriters) {
  TempDir dir;
  {
    CNewFile file(dir.WideFile("w"));
    file.WriteWord(0x1234);
    file.WriteDWord(0x12345678);
    file.WriteByte(0x9A);
    file << L'A';
    file << 4294967295u;
    file.WriteByteOrderMarkOfLittleEndian();
    file.WriteString(std::wstring(L"A"));
    file.WriteString(std::string("z"));
    EXPECT_EQ(file.Flush(), 0);
  }
  const ByteList expected = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x9A, 'A',  0,   0, 0, '-', 0,
                             0,    0,    '1',  0,    0,    0,    0xFF, 0xFE, 'A', 0, 0, 0,   'z'};
  EXPECT_EQ(Get(dir.File("w")), expected);

  CIoFile file(dir.WideFile("w"), O_RDONLY, 0);
  EXPECT_EQ(file.GetSize(), expected.size());
  EXPECT_EQ(file.ReadWord(), 0x1234);
  EXPECT_EQ(file.ReadDWord(), 0x12345678u);
  EXPECT_EQ(file.ReadByte(), 0x9A);
  EXPECT_EQ(file.Seek(-5, SEEK_END), static_cast<long>(expected.size() - 5));
  unsigned char tail[8];
  EXPECT_EQ(
      ErrorOf([&] { file.Read(tail, 8); }), // only 5 remain
      std::make_pair(int64_t(-1), L"[Error] : Cannot read file, " + dir.WideFile("w") + L"."));
}

TEST(CIoFileTest, FailuresAndClosedFiles) {
  TempDir dir;
  EXPECT_THROW(CIoFile(dir.WideFile("none"), O_RDONLY, O_EXCL), COpenFileError);
  EXPECT_EQ(ErrorOf([&] { CIoFile(dir.WideFile("none"), O_RDONLY, O_EXCL); }),
            std::make_pair(int64_t(16384),
                           L"[Error] : Cann't open file, " + dir.WideFile("none") + L"."));
  Put(dir.File("r"), {1, 2});
  CIoFile readOnly(dir.File("r"), O_RDONLY, 0);
  const unsigned char b = 1;
  EXPECT_EQ(ErrorOf([&] { readOnly.Write(&b, 1); }).second,
            L"[Error] : Cannot write file, " + dir.WideFile("r") + L".");
  CIoFile closed;
  EXPECT_EQ(closed.GetSize(), 0u); // nothing to examine
  EXPECT_EQ(closed.Seek(0, SEEK_SET), -1);
  EXPECT_THROW(closed.ReadByte(), CError);
  readOnly.Close();
  EXPECT_FALSE(readOnly.IsValidFileHandle());
  EXPECT_EQ(readOnly.GetSize(), 2u); // the name still tells the size
  CIoFile gone(dir.File("r"), O_RDONLY, 0);
  unlink(dir.File("r").c_str());
  EXPECT_EQ(gone.GetSize(), 0u);
}

TEST(CIoFileTest, ReopenLeaksNoDescriptorAndNewFilesGetReadableMode) {
  TempDir dir;
  const int before = OpenDescriptors();
  {
    CIoFile file;
    for (int i = 0; i < 5; ++i)
      file.Open(dir.File("f"), O_RDWR, O_CREAT);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    EXPECT_NE(fcntl(file.GetHandle(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_THROW(file.Open(dir.File("missing"), O_RDONLY, 0), COpenFileError);
    EXPECT_FALSE(file.IsOpen()); // the failed reopen left it closed
    EXPECT_EQ(OpenDescriptors(), before);
  }
  EXPECT_EQ(OpenDescriptors(), before);

  const mode_t old = umask(022);
  { CNewFile created(dir.WideFile("m")); }
  umask(old);
  struct stat st;
  ASSERT_EQ(stat(dir.File("m").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}
