// The tag table: fixed ids, every name found under its own id, and names that are not tags.
#include "engines/htmlparser2/htmltags.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(HTMLTagsTest, IdsFollowTheAlphabeticalOrderFromFive) {
  EXPECT_EQ(3, HTML_TAG_COMMENT);
  EXPECT_EQ(4, HTML_TAG_DECLARATION);
  EXPECT_EQ(5, HTML_TAG_A);
  EXPECT_STREQ("!DOCTYPE", HTMLTagUpperName(HTML_TAG_DECLARATION));
  std::string previous;
  for (unsigned id = HTML_TAG_FIRST; id <= HTML_TAG_LAST; ++id) {
    const std::string name = HTMLTagName(id);
    EXPECT_LT(previous, name);
    previous = name;
    const std::u16string wide = Wide(name);
    EXPECT_EQ(id, HTMLFindTag(wide.data(), wide.size())) << name;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(upper, HTMLTagUpperName(id));
  }
}

TEST(HTMLTagsTest, OtherNamesAreNotTags) {
  for (const char* name : {"", "A", "Body", "h7", "blockquotes", "section", "bodyx", "ab",
                           "a-b", "abcdefghijkl"}) {
    const std::u16string wide = Wide(name);
    EXPECT_EQ(HTML_TAG_NONE, HTMLFindTag(wide.data(), wide.size())) << name;
  }
  EXPECT_EQ(HTML_TAG_NONE, HTMLFindTag(nullptr, 3));
  EXPECT_EQ(nullptr, HTMLTagName(0));
  EXPECT_EQ(nullptr, HTMLTagName(HTML_TAG_END));
  EXPECT_EQ(nullptr, HTMLTagInfo(HTML_TAG_COMMENT));
}

}  // namespace
