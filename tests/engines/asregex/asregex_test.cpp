// The regular-expression library as the rule conditions reach it, through the loader from the
// bin folder (JIT and interpreter alike), and the loader's refusals of the stand-in libraries
// built from fake_asregex.cpp.
#include "engines/asregex/regexlib.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <thread>

#include "support/bin_dir.h"
#include "support/trace_capture.h"

namespace {

asregex::CRegexLib* Load(const std::string& folder) {
  return asregex::LoadRegexLib(std::filesystem::path(folder).u16string().c_str());
}

// Three threads run every row on the JIT and on the interpreter through the same objects.
TEST(RegexTest, ThreadsMatchUtf8WithinBounds) {
  asregex::CRegexLib* lib = Load(zztest::BinDir());
  ASSERT_NE(lib, nullptr);
  const std::string deep = std::string(100000, 'a') + "c", hostile = std::string(200, 'a') + "!";
  const char* rows[][3] = {{"привет", "скажи привет миру", "11,23"},
                           {"(?i)\\bМИР\\w", "скажи привет миру", "24,32"},
                           {"abc", "abc\xD0", "0,3"},      // a sequence cut by the end
                           {"x.z", "\x80\x80xyz", "2,5"},  // lone continuation bytes
                           {"a.c", "a\xFF" "c", "none"},   // an invalid byte is no character
                           {"(a|b)*c$", deep.c_str(), "0,100001"},  // needs a larger JIT stack
                           {"^(a|aa)+$", hostile.c_str(), "none"}};  // stops at the limit
  // Each row as the conditions compile it, then by NewRegEx without the JIT.
  std::vector<asregex::IRegEx*> regexes;
  for (int options : {0, int{asregex::kNoJit}}) {
    for (const auto& row : rows) {
      regexes.push_back(options ? asregex::NewRegex(lib, row[0], options, nullptr)
                                : asregex::NewFastRegex(lib));
      ASSERT_TRUE(regexes.back() != nullptr && (options || regexes.back()->Compile(row[0])));
    }
  }
  const std::clock_t begin = std::clock();  // CPU time of all threads
  const auto run = [&] {
    for (std::size_t i = 0; i < regexes.size(); ++i) {
      const char* const* row = rows[i % std::size(rows)];
      std::size_t start = 0, end = 0, length = std::strlen(row[1]);
      const bool found = regexes[i]->Find(row[1], length, &start, &end);
      EXPECT_EQ(regexes[i]->Match(row[1], length, 0), found);
      EXPECT_EQ(found ? std::to_string(start) + "," + std::to_string(end) : "none", row[2]) << i;
    }
  };
  { std::jthread threads[] = {std::jthread(run), std::jthread(run), std::jthread(run)}; }
  EXPECT_LT(std::clock() - begin, 20 * CLOCKS_PER_SEC);
  int offset = -1;  // patterns that do not compile
  EXPECT_EQ(asregex::NewRegex(lib, "ab(c", asregex::kCaseless, &offset), nullptr);
  EXPECT_EQ(offset, 4);
  regexes.push_back(asregex::NewFastRegex(lib));
  EXPECT_FALSE(regexes.back()->Compile("[z-a]"));
  for (asregex::IRegEx* regex : regexes) asregex::DeleteRegex(lib, regex);
  asregex::FreeRegexLib(lib);
}

TEST(RegexLibTest, RefusesMissingOrIncompleteLibraries) {
  const std::string invalid = "WARNING: invalid Regex DLL library ! The product will run, but "
                              "with a lot less functionality.\n";
  const std::string lastLines[] = {  // folder "none", then one entry left out in check order
      "cannot load the Regex library (" ZZ_FAKE_ASREGEX_DIR "/none\\asregex.dll): ",
      invalid, invalid, invalid,
      "WARNING: could not obtain fctor_makebuffmap - cannot supply fast regex\n",
      "WARNING: could not obtain fctor_deletebuffmap - cannot supply fast regex\n"};
  for (int omit = 0; omit <= 5; ++omit) {
    const std::string folder = ZZ_FAKE_ASREGEX_DIR "/" + (omit ? std::to_string(omit) : "none");
    zztest::TraceCapture trace;
    EXPECT_EQ(asregex::LoadRegexLib(u""), nullptr);  // an empty folder text is not tried
    EXPECT_EQ(Load(folder), nullptr);
    ASSERT_EQ(trace.Lines().size(), 2u);
    EXPECT_EQ(trace.Lines().at(0).level, 3u);
    EXPECT_EQ(trace.Lines().at(1).level, 0u);
    EXPECT_EQ(trace.Count(" -Trying to load the lib " + folder + "\\asregex.dll\n"), 1);
    EXPECT_EQ(trace.Count(" -" + lastLines[omit]), 1) << omit;
    EXPECT_EQ(dlopen((folder + "/libasregex.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
  }
  asregex::CRegexLib* lib = Load(ZZ_FAKE_ASREGEX_DIR "/0");  // constructors that throw
  EXPECT_NE(lib, nullptr);
  EXPECT_EQ(asregex::NewFastRegex(lib), nullptr);
  asregex::FreeRegexLib(lib);
}

}  // namespace
