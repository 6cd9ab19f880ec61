#include "framework/cstring.h"

#include <gtest/gtest.h>

#include <string>

TEST(CStringTest, HoldsBytesExactlyIncludingHighAndEmbeddedNul) {
  const char bytes[] = {'a', '\0', '\xB2', '\xCE'};
  CString s(bytes, 4);
  EXPECT_EQ(s.GetLength(), 4);
  EXPECT_EQ(s.GetAt(2), '\xB2');
  EXPECT_EQ(CString(nullptr), CString(""));
  EXPECT_TRUE(CString(nullptr).IsEmpty());
  EXPECT_EQ(CString("abc", 0), CString());
}

TEST(CStringTest, FormatFitsAnyLength) {
  CString s;
  s.Format("Download Status: %d%% Complete", 42);
  EXPECT_EQ(s, "Download Status: 42% Complete");
  std::string big(5000, 'x');
  s.Format("%s\\%d.tarnwick.zip", big.c_str(), -7);
  EXPECT_EQ(s.GetLength(), 5000 + 1 + 2 + 13);
  EXPECT_EQ(std::string(s.Mid(5000)), "\\-7.tarnwick.zip");
}

TEST(CStringTest, SearchCutAndEdit) {
  CString path("C:\\dir\\sub\\\\");
  EXPECT_EQ(path.ReverseFind('\\'), path.GetLength() - 1);
  EXPECT_EQ(CString("abc").ReverseFind('z'), -1);
  EXPECT_EQ(path.Find('\\', 3), 6);
  path.TrimRight('\\');
  EXPECT_EQ(path, "C:\\dir\\sub");
  EXPECT_EQ(path.Left(path.ReverseFind('\\')), "C:\\dir");
  EXPECT_EQ(CString("ab \t\r\n").TrimRight(), "ab");

  CString quoted("C:\\a b\\x.exe");
  quoted.Insert(0, '"');
  quoted += '"';
  EXPECT_EQ(quoted, "\"C:\\a b\\x.exe\"");
  EXPECT_EQ(CString("abcdef").Insert(99, "!"), 7);  // clamped to the end

  CString d("abcdef");
  EXPECT_EQ(d.Delete(1, 2), 4);
  EXPECT_EQ(d, "adef");
  EXPECT_EQ(d.Delete(3, 100), 3);
  EXPECT_EQ(d.Delete(10, 1), 3);
  EXPECT_EQ(d.Mid(10), "");
  EXPECT_EQ(d.Left(-1), "");
}

TEST(CStringTest, ConcatenationAndOrder) {
  CString a("-url");
  EXPECT_EQ(a + "x", "-urlx");
  EXPECT_EQ("x" + a, "x-url");
  EXPECT_EQ(a + CString("y"), "-urly");
  EXPECT_EQ('"' + a + '"', "\"-url\"");
  EXPECT_TRUE(CString("-URL") < CString("-url"));
  EXPECT_NE(CString("-URL"), CString("-url"));
}

TEST(CStringTest, EditsFromItsOwnBytes) {
  CString s("abc");
  s += s;
  EXPECT_EQ(s, "abcabc");
  s.Insert(1, s.GetString() + 4);
  EXPECT_EQ(s, "abcbcabc");
  s.Format("%s-%s", s.GetString(), s.Left(2).GetString());
  EXPECT_EQ(s, "abcbcabc-ab");
  s = s.GetString() + 9;
  EXPECT_EQ(s, "ab");
  s.Delete(0, 5);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_STREQ(s.GetString(), "");
  EXPECT_EQ(s.GetAt(0), '\0');
}
