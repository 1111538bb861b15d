// SPDX-License-Identifier: MIT
#include "sdsmart/io_file.h"

#include "sdsmart/sdsmart.h"
#include "support.h"

#include <vector>

using namespace sdtest;

namespace {

using ByteList = std::vector<unsigned char>;

void Put(const std::string &path, const ByteList &bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

} // namespace

TEST(CIoFileTest, ReadsTextAndTheUtf16Mark) {
  ScratchDir dir;
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

TEST(CIoFileTest, LittleEndianScalars) {
  ScratchDir dir;
  Put(dir.File("s"), {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x9A});
  CIoFile file(dir.WideFile("s"), O_RDONLY, 0);
  EXPECT_EQ(file.ReadWord(), 0x1234);
  EXPECT_EQ(file.ReadDWord(), 0x12345678u);
  EXPECT_EQ(file.ReadByte(), 0x9A);
}

TEST(CIoFileTest, FailuresAndClosedFiles) {
  ScratchDir dir;
  EXPECT_THROW(CIoFile(dir.WideFile("none"), O_RDONLY, O_EXCL), COpenFileError);
  EXPECT_EQ(CatchError([&] { CIoFile(dir.WideFile("none"), O_RDONLY, O_EXCL); }),
            (Caught{SDSMART_E_FILE_NOT_OPENED,
                    L"[Error] : Cann't open file, " + dir.WideFile("none") + L"."}));
  Put(dir.File("r"), {1, 2});
  CIoFile readOnly(dir.File("r"), O_RDONLY, 0);
  const unsigned char b = 1;
  EXPECT_EQ(CatchError([&] { readOnly.Write(&b, 1); }).text,
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
