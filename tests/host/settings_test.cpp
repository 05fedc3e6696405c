// CHostSettings: the settings file format, session overrides, --set, path resolution.
#include "settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors.h"
#include "support/scratch_dir.h"

namespace zzhost {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  std::uint32_t Int(std::uint32_t session, const std::string& key) {
    return settings.GetIntValue(session, zztest::Wide(key).c_str(), 77);
  }
  // The global text, or "<null>".
  std::string Text(const std::string& key) {
    const char16_t* value = settings.GetStringValue(zztest::Wide(key).c_str());
    return value != nullptr ? zzplat::Utf16ToUtf8Lenient(value) : "<null>";
  }

  CHostSettings settings;
};

// Comments, blank lines and blanks around keys and values are ignored; the later line wins;
// numbers are unsigned decimal and fit 32 bits, anything else reads as the default.
TEST_F(SettingsTest, LinesValuesAndNumbers) {
  settings.LoadText("\xEF\xBB\xBF# a comment after a byte order mark\n\n   \t\n"
                    "  /a = 1  \n/b=2\r\n\t# indented comment = 5\n/c\t=\t hello world \n/d =\n"
                    "/e = x = y # not a comment\n/f = 1\n/f = 2\n/name = caf\xC3\xA9\n"
                    "/max = 4294967295\n/zeros = 0000000000000000042\n/over = 4294967296\n"
                    "/neg = -1\n/hex = 0x10\n/inner = 1 2\n",
                    "t.conf", "/etc");
  const std::pair<const char*, std::uint32_t> numbers[] = {
      {"/a", 1}, {"/b", 2}, {"/d", 77}, {"/f", 2}, {"/max", 4294967295u}, {"/zeros", 42},
      {"/over", 77}, {"/neg", 77}, {"/hex", 77}, {"/inner", 77}};
  for (const auto& [key, value] : numbers) EXPECT_EQ(Int(0, key), value) << key;
  EXPECT_EQ(Text("/c") + "|" + Text("/e") + "|" + Text("/name") + "|" + Text("# indented comment"),
            "hello world|x = y # not a comment|caf\xC3\xA9|<null>");
}

TEST_F(SettingsTest, SessionSectionsOverrideGlobalsAndOverridesReplaceBoth) {
  settings.LoadText("/flag = 1\n/other = 5\n[session 3]\n/flag = 0\n[ session   999 ]\n"
                    "/flag = 9\n/only = 4\n[session 3]\n/later = 8\n", "t.conf", "/etc");
  // A session falls back to the global value; a section may be reopened; section values
  // stay in their session; GetStringValue answers the global text only.
  EXPECT_EQ((std::vector<std::uint32_t>{Int(0, "/flag"), Int(3, "/flag"), Int(999, "/flag"),
                                        Int(3, "/other"), Int(3, "/later"), Int(0, "/only")}),
            (std::vector<std::uint32_t>{1, 0, 9, 5, 8, 77}));
  EXPECT_EQ(Text("/only"), "<null>");
  settings.ApplyOverride("/flag=7", "/work");
  settings.ApplyOverride(" /flag = 8 ", "/work");
  settings.ApplyOverride("/new=x=y", "/work");
  EXPECT_EQ(Int(3, "/flag"), 8u);
  EXPECT_EQ(Int(999, "/only"), 4u);  // untouched keys keep their session value
  EXPECT_EQ(Text("/new"), "x=y");
}

TEST_F(SettingsTest, MalformedLinesNameFileAndLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"/a = 1\nno equals sign\n", "t.conf:2: expected 'KEY = VALUE'"},
      {"[session]\n", "t.conf:1: bad section header '[session]' (expected '[session N]')"},
      {"\n\n\n[session 1000]\n", "t.conf:4: session 1000 out of range (0 to 999)"},
  };
  for (const auto& [text, error] : cases) {
    try {
      CHostSettings().LoadText(text, "t.conf", "/etc");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const HostError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(error, 0), 0u) << e.what();
    }
  }
}

// The three path settings are taken from the settings file's folder (the working folder
// for --set); "\..." is absolute in the product's form.
TEST_F(SettingsTest, RelativePathSettingsAreTakenFromTheBaseFolder) {
  zztest::ScratchDir dir;
  std::filesystem::create_directories(dir / "conf");
  zztest::WriteBytes(dir / "conf/zz.conf",
                     "/http/global/SharedDataPath = ../data\n"
                     "/http/global/GlobalTempPath = ../tmp/./x\n"
                     "/http/global/SharedLibsPath = \\opt\\libs\n/http/other/Path = data\n"
                     "[session 1]\n/http/global/SharedDataPath = s1\n");
  settings.LoadFile((dir / "conf/zz.conf").string());
  EXPECT_EQ(Text("/http/global/SharedDataPath") + "|" + Text("/http/global/GlobalTempPath") + "|" +
                Text("/http/global/SharedLibsPath") + "|" + Text("/http/other/Path"),
            (dir / "data").string() + "|" + (dir / "tmp/x").string() + "|\\opt\\libs|data");
  EXPECT_EQ(*settings.FindText(1, u"/http/global/SharedDataPath"), zztest::Wide(dir / "conf/s1"));
  settings.ApplyOverride("/http/global/SharedDataPath=here", "/work/dir");
  EXPECT_EQ(Text("/http/global/SharedDataPath"), "/work/dir/here");
  EXPECT_THROW(settings.LoadFile((dir / "missing.conf").string()), HostError);
}

}  // namespace
}  // namespace zzhost
