// The tag table of the HTML parser: the element names it knows, their numeric ids, and what
// the tokeniser does with each (which element list records it, how its content is read,
// whether it separates words in the page text).
//
// Ids: 0 no tag (text), 3 comment, 4 declaration, then the elements of HTML 4.01 plus embed
// and marquee in alphabetical order from "a" = 5. An element name is matched on the
// lower-case copy of the page, so it is always lower case here. Constant data: safe from
// any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Element list that records an element's start tag.
enum EHTMLList : std::uint8_t {
  kHTMLListNone = 0,
  kHTMLListLinks,    // a, link, area
  kHTMLListImages,   // img
  kHTMLListMetas,    // meta
  kHTMLListForms,    // form and its controls
  kHTMLListScripts,  // script
  kHTMLListObjects,  // frames and embedded objects
};

// How the text after a start tag is read.
enum EHTMLContent : std::uint8_t {
  kHTMLContentNormal = 0,  // markup goes on
  kHTMLContentRaw,         // literal up to the matching end tag, not page text (script, style)
  kHTMLContentEscapable,   // page text up to the matching end tag, entities replaced, no tags
};

// What a tag puts between the text runs on either side of it in the page text.
enum EHTMLBreak : std::uint8_t {
  kHTMLBreakNone = 0,  // inline markup: "b<b>o</b>ld" reads "bold"
  kHTMLBreakBlank,     // a blank
  kHTMLBreakLine,      // a line feed
};

// X(name, ID, list, content, break), in alphabetical order of name.
#define ZZ_HTML_TAGS(X)                                  \
  X(a, A, Links, Normal, None)                           \
  X(abbr, ABBR, None, Normal, None)                      \
  X(acronym, ACRONYM, None, Normal, None)                \
  X(address, ADDRESS, None, Normal, Line)                \
  X(applet, APPLET, Objects, Normal, Blank)              \
  X(area, AREA, Links, Normal, None)                     \
  X(b, B, None, Normal, None)                            \
  X(base, BASE, None, Normal, None)                      \
  X(basefont, BASEFONT, None, Normal, None)              \
  X(bdo, BDO, None, Normal, None)                        \
  X(big, BIG, None, Normal, None)                        \
  X(blockquote, BLOCKQUOTE, None, Normal, Line)          \
  X(body, BODY, None, Normal, Line)                      \
  X(br, BR, None, Normal, Line)                          \
  X(button, BUTTON, Forms, Normal, Blank)                \
  X(caption, CAPTION, None, Normal, Line)                \
  X(center, CENTER, None, Normal, Line)                  \
  X(cite, CITE, None, Normal, None)                      \
  X(code, CODE, None, Normal, None)                      \
  X(col, COL, None, Normal, Blank)                       \
  X(colgroup, COLGROUP, None, Normal, Blank)             \
  X(dd, DD, None, Normal, Line)                          \
  X(del, DEL, None, Normal, None)                        \
  X(dfn, DFN, None, Normal, None)                        \
  X(dir, DIR, None, Normal, Line)                        \
  X(div, DIV, None, Normal, Line)                        \
  X(dl, DL, None, Normal, Line)                          \
  X(dt, DT, None, Normal, Line)                          \
  X(em, EM, None, Normal, None)                          \
  X(embed, EMBED, Objects, Normal, Blank)                \
  X(fieldset, FIELDSET, None, Normal, Line)              \
  X(font, FONT, None, Normal, None)                      \
  X(form, FORM, Forms, Normal, Line)                     \
  X(frame, FRAME, Objects, Normal, Line)                 \
  X(frameset, FRAMESET, None, Normal, Line)              \
  X(h1, H1, None, Normal, Line)                          \
  X(h2, H2, None, Normal, Line)                          \
  X(h3, H3, None, Normal, Line)                          \
  X(h4, H4, None, Normal, Line)                          \
  X(h5, H5, None, Normal, Line)                          \
  X(h6, H6, None, Normal, Line)                          \
  X(head, HEAD, None, Normal, Line)                      \
  X(hr, HR, None, Normal, Line)                          \
  X(html, HTML, None, Normal, Line)                      \
  X(i, I, None, Normal, None)                            \
  X(iframe, IFRAME, Objects, Normal, Blank)              \
  X(img, IMG, Images, Normal, None)                      \
  X(input, INPUT, Forms, Normal, Blank)                  \
  X(ins, INS, None, Normal, None)                        \
  X(isindex, ISINDEX, Forms, Normal, Line)               \
  X(kbd, KBD, None, Normal, None)                        \
  X(label, LABEL, None, Normal, None)                    \
  X(legend, LEGEND, None, Normal, Line)                  \
  X(li, LI, None, Normal, Line)                          \
  X(link, LINK, Links, Normal, None)                     \
  X(map, MAP, None, Normal, None)                        \
  X(marquee, MARQUEE, None, Normal, Blank)               \
  X(menu, MENU, None, Normal, Line)                      \
  X(meta, META, Metas, Normal, None)                     \
  X(noframes, NOFRAMES, None, Normal, Line)              \
  X(noscript, NOSCRIPT, None, Normal, Blank)             \
  X(object, OBJECT, Objects, Normal, Blank)              \
  X(ol, OL, None, Normal, Line)                          \
  X(optgroup, OPTGROUP, None, Normal, Line)              \
  X(option, OPTION, None, Normal, Line)                  \
  X(p, P, None, Normal, Line)                            \
  X(param, PARAM, None, Normal, None)                    \
  X(pre, PRE, None, Normal, Line)                        \
  X(q, Q, None, Normal, None)                            \
  X(s, S, None, Normal, None)                            \
  X(samp, SAMP, None, Normal, None)                      \
  X(script, SCRIPT, Scripts, Raw, None)                  \
  X(select, SELECT, Forms, Normal, Blank)                \
  X(small, SMALL, None, Normal, None)                    \
  X(span, SPAN, None, Normal, None)                      \
  X(strike, STRIKE, None, Normal, None)                  \
  X(strong, STRONG, None, Normal, None)                  \
  X(style, STYLE, None, Raw, None)                       \
  X(sub, SUB, None, Normal, None)                        \
  X(sup, SUP, None, Normal, None)                        \
  X(table, TABLE, None, Normal, Line)                    \
  X(tbody, TBODY, None, Normal, Line)                    \
  X(td, TD, None, Normal, Blank)                         \
  X(textarea, TEXTAREA, Forms, Escapable, Blank)         \
  X(tfoot, TFOOT, None, Normal, Line)                    \
  X(th, TH, None, Normal, Blank)                         \
  X(thead, THEAD, None, Normal, Line)                    \
  X(title, TITLE, None, Escapable, Line)                 \
  X(tr, TR, None, Normal, Line)                          \
  X(tt, TT, None, Normal, None)                          \
  X(u, U, None, Normal, None)                            \
  X(ul, UL, None, Normal, Line)                          \
  X(var, VAR, None, Normal, None)

// Tag ids (HTML_TAG_A == 5, HTML_TAG_VAR == HTML_TAG_LAST).
enum EHTMLTagId : std::uint8_t {
  HTML_TAG_NONE = 0,
  HTML_TAG_COMMENT = 3,
  HTML_TAG_DECLARATION = 4,
#define ZZ_HTML_TAG_ENUM(name, ID, list, content, brk) HTML_TAG_##ID,
  ZZ_HTML_TAGS(ZZ_HTML_TAG_ENUM)
#undef ZZ_HTML_TAG_ENUM
      HTML_TAG_END,
  HTML_TAG_FIRST = HTML_TAG_A,
  HTML_TAG_LAST = HTML_TAG_END - 1,
};

// What the tokeniser needs to know of one element.
struct SHTMLTagInfo {
  const char* name;       // lower case, as matched
  const char* upperName;  // upper case, for listeners that want "BODY", "P", ...
  EHTMLList list;
  EHTMLContent content;
  EHTMLBreak separator;
};

// The element with the given lower-case name (length units of wide text), or HTML_TAG_NONE.
// O(name length).
EHTMLTagId HTMLFindTag(const char16_t* name, std::size_t length) noexcept;
// The id of an already packed name (html_detail::PackName), or HTML_TAG_NONE. O(1).
EHTMLTagId HTMLFindPackedTag(std::uint64_t key) noexcept;
// Table entry of an element id (HTML_TAG_FIRST..HTML_TAG_LAST); null for any other id.
const SHTMLTagInfo* HTMLTagInfo(unsigned id) noexcept;
// Lower-case name of an id: the element name, "!--" for a comment, "!doctype" for a
// declaration; null for any other id.
const char* HTMLTagName(unsigned id) noexcept;
// Upper-case name as above ("A", "BODY", "!--", "!DOCTYPE"); null for any other id.
const char* HTMLTagUpperName(unsigned id) noexcept;
