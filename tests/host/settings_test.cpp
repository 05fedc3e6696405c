// CHostSettings: the settings file format, session overrides, --set, path resolution.
#include "settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "errors.h"
#include "support/scratch_dir.h"
#include "zzplat/paths.h"

namespace zzhost {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void Load(const std::string& text) { settings.LoadText(text, "test.conf", "/etc/zz"); }
  std::uint32_t Int(std::uint32_t session, const std::string& key, std::uint32_t def = 77) {
    return settings.GetIntValue(session, zzplat::Utf8ToUtf16Lenient(key).c_str(), def);
  }
  // The global text, or "<null>".
  std::string Text(const std::string& key) {
    const char16_t* value = settings.GetStringValue(zzplat::Utf8ToUtf16Lenient(key).c_str());
    return value != nullptr ? zzplat::Utf16ToUtf8Lenient(value) : "<null>";
  }

  CHostSettings settings;
};

TEST_F(SettingsTest, IgnoresCommentsBlankLinesAndBlanksAroundKeysAndValues) {
  Load("\xEF\xBB\xBF# a comment after a byte order mark\n\n   \t\n"
       "  /a = 1  \n/b=2\r\n\t# indented comment = 5\n/c\t=\t hello world \n/d =\n"
       "/e = x = y # not a comment\n/f = 1\n/f = 2\n/name = caf\xC3\xA9");
  EXPECT_EQ(Int(0, "/a"), 1u);
  EXPECT_EQ(Int(0, "/b"), 2u);
  EXPECT_EQ(Text("/c"), "hello world");
  EXPECT_EQ(Text("/d"), "");
  EXPECT_EQ(Int(0, "/d"), 77u);
  EXPECT_EQ(Text("/e"), "x = y # not a comment");
  EXPECT_EQ(Int(0, "/f"), 2u);  // the later line wins
  EXPECT_EQ(settings.GetStringValue(u"/name"), std::u16string(u"caf\u00e9"));
  EXPECT_EQ(Text("# indented comment"), "<null>");
  EXPECT_EQ(settings.GetStringValue(nullptr), nullptr);
}

TEST_F(SettingsTest, SessionSectionsOverrideGlobalsAndOverridesReplaceBoth) {
  Load("/flag = 1\n/other = 5\n[session 3]\n/flag = 0\n"
       "[ session   999 ]\n/flag = 9\n/only = 4\n[session 3]\n/later = 8\n");
  EXPECT_EQ(Int(0, "/flag"), 1u);
  EXPECT_EQ(Int(3, "/flag"), 0u);
  EXPECT_EQ(Int(999, "/flag"), 9u);
  EXPECT_EQ(Int(3, "/other"), 5u);    // falls back to the global value
  EXPECT_EQ(Int(3, "/later"), 8u);    // a section may be reopened
  EXPECT_EQ(Int(0, "/only"), 77u);    // section values stay in their session
  EXPECT_EQ(Text("/only"), "<null>");  // GetStringValue answers the global text only

  settings.ApplyOverride("/flag=7", "/work");
  settings.ApplyOverride(" /flag = 8 ", "/work");
  settings.ApplyOverride("/new=x=y", "/work");
  EXPECT_EQ(Int(0, "/flag"), 8u);
  EXPECT_EQ(Int(3, "/flag"), 8u);
  EXPECT_EQ(Int(999, "/only"), 4u);  // untouched keys keep their session value
  EXPECT_EQ(Text("/new"), "x=y");
}

TEST_F(SettingsTest, IntValuesAreUnsignedDecimalNumbersFitting32Bits) {
  Load("/max = 4294967295\n/zeros = 0000000000000000042\n/over = 4294967296\n"
       "/huge = 99999999999999999999\n/neg = -1\n/plus = +1\n/hex = 0x10\n/inner = 1 2\n");
  EXPECT_EQ(Int(0, "/max", 7), 4294967295u);
  EXPECT_EQ(Int(0, "/zeros", 7), 42u);
  for (const char* key : {"/over", "/huge", "/neg", "/plus", "/hex", "/inner", "/absent"}) {
    EXPECT_EQ(Int(0, key, 7), 7u) << key;
  }
}

TEST_F(SettingsTest, MalformedLinesNameFileAndLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"/a = 1\nno equals sign\n", "test.conf:2: expected 'KEY = VALUE'"},
      {"# c\n\n = 3\n", "test.conf:3: empty key before '='"},
      {"[session]\n", "test.conf:1: bad section header '[session]' (expected '[session N]')"},
      {"[sessions 1]\n", "test.conf:1: bad section header"},
      {"[session1]\n", "test.conf:1: bad section header"},
      {"\n\n\n[session 1000]\n", "test.conf:4: session 1000 out of range (0 to 999)"},
      {"[session 99999999999]\n", "test.conf:1: session 99999999999 out of range"},
  };
  for (const auto& c : cases) {
    std::string error;
    try {
      CHostSettings().LoadText(c.text, "test.conf", "/etc");
    } catch (const HostError& e) {
      error = e.what();
    }
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << "text: " << c.text << "error: " << error;
  }
}

TEST_F(SettingsTest, RelativePathSettingsAreTakenFromTheBaseFolder) {
  Load("/http/global/SharedDataPath = data\n/http/global/GlobalTempPath = ../tmp/./x\n"
       "/http/global/SharedLibsPath = \\opt\\libs\n/http/other/Path = data\n"
       "[session 1]\n/http/global/SharedDataPath = s1\n");
  EXPECT_EQ(Text("/http/global/SharedDataPath"), "/etc/zz/data");
  EXPECT_EQ(Text("/http/global/GlobalTempPath"), "/etc/tmp/x");
  EXPECT_EQ(Text("/http/global/SharedLibsPath"), "\\opt\\libs");  // product-form absolute
  EXPECT_EQ(Text("/http/other/Path"), "data");  // only the three path settings
  EXPECT_EQ(*settings.FindText(1, u"/http/global/SharedDataPath"), u"/etc/zz/s1");
  settings.ApplyOverride("/http/global/SharedDataPath=here", "/work/dir");
  EXPECT_EQ(Text("/http/global/SharedDataPath"), "/work/dir/here");
}

TEST_F(SettingsTest, FilePathsAreTakenFromTheFilesFolder) {
  zztest::ScratchDir scratch;
  const std::filesystem::path& dir = scratch.Path();
  std::filesystem::create_directories(dir / "conf");
  std::ofstream(dir / "conf" / "zz.conf") << "/http/global/SharedDataPath = ../data\n";
  settings.LoadFile((dir / "conf" / "zz.conf").string());
  EXPECT_EQ(Text("/http/global/SharedDataPath"), (dir / "data").string());
  EXPECT_THROW(settings.LoadFile((dir / "missing.conf").string()), HostError);
}

}  // namespace
}  // namespace zzhost
