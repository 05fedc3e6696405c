// The tag table of the HTML parser: the element names it knows, their numeric ids, and what
// the tokeniser does with each (which element list records it, how its content is read).
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

// X(name, ID, list, content), in alphabetical order of name.
#define ZZ_HTML_TAGS(X)                                  \
  X(a, A, Links, Normal)                                 \
  X(abbr, ABBR, None, Normal)                            \
  X(acronym, ACRONYM, None, Normal)                      \
  X(address, ADDRESS, None, Normal)                      \
  X(applet, APPLET, Objects, Normal)                     \
  X(area, AREA, Links, Normal)                           \
  X(b, B, None, Normal)                                  \
  X(base, BASE, None, Normal)                            \
  X(basefont, BASEFONT, None, Normal)                    \
  X(bdo, BDO, None, Normal)                              \
  X(big, BIG, None, Normal)                              \
  X(blockquote, BLOCKQUOTE, None, Normal)                \
  X(body, BODY, None, Normal)                            \
  X(br, BR, None, Normal)                                \
  X(button, BUTTON, Forms, Normal)                       \
  X(caption, CAPTION, None, Normal)                      \
  X(center, CENTER, None, Normal)                        \
  X(cite, CITE, None, Normal)                            \
  X(code, CODE, None, Normal)                            \
  X(col, COL, None, Normal)                              \
  X(colgroup, COLGROUP, None, Normal)                    \
  X(dd, DD, None, Normal)                                \
  X(del, DEL, None, Normal)                              \
  X(dfn, DFN, None, Normal)                              \
  X(dir, DIR, None, Normal)                              \
  X(div, DIV, None, Normal)                              \
  X(dl, DL, None, Normal)                                \
  X(dt, DT, None, Normal)                                \
  X(em, EM, None, Normal)                                \
  X(embed, EMBED, Objects, Normal)                       \
  X(fieldset, FIELDSET, None, Normal)                    \
  X(font, FONT, None, Normal)                            \
  X(form, FORM, Forms, Normal)                           \
  X(frame, FRAME, Objects, Normal)                       \
  X(frameset, FRAMESET, None, Normal)                    \
  X(h1, H1, None, Normal)                                \
  X(h2, H2, None, Normal)                                \
  X(h3, H3, None, Normal)                                \
  X(h4, H4, None, Normal)                                \
  X(h5, H5, None, Normal)                                \
  X(h6, H6, None, Normal)                                \
  X(head, HEAD, None, Normal)                            \
  X(hr, HR, None, Normal)                                \
  X(html, HTML, None, Normal)                            \
  X(i, I, None, Normal)                                  \
  X(iframe, IFRAME, Objects, Normal)                     \
  X(img, IMG, Images, Normal)                            \
  X(input, INPUT, Forms, Normal)                         \
  X(ins, INS, None, Normal)                              \
  X(isindex, ISINDEX, Forms, Normal)                     \
  X(kbd, KBD, None, Normal)                              \
  X(label, LABEL, None, Normal)                          \
  X(legend, LEGEND, None, Normal)                        \
  X(li, LI, None, Normal)                                \
  X(link, LINK, Links, Normal)                           \
  X(map, MAP, None, Normal)                              \
  X(marquee, MARQUEE, None, Normal)                      \
  X(menu, MENU, None, Normal)                            \
  X(meta, META, Metas, Normal)                           \
  X(noframes, NOFRAMES, None, Normal)                    \
  X(noscript, NOSCRIPT, None, Normal)                    \
  X(object, OBJECT, Objects, Normal)                     \
  X(ol, OL, None, Normal)                                \
  X(optgroup, OPTGROUP, None, Normal)                    \
  X(option, OPTION, None, Normal)                        \
  X(p, P, None, Normal)                                  \
  X(param, PARAM, None, Normal)                          \
  X(pre, PRE, None, Normal)                              \
  X(q, Q, None, Normal)                                  \
  X(s, S, None, Normal)                                  \
  X(samp, SAMP, None, Normal)                            \
  X(script, SCRIPT, Scripts, Raw)                        \
  X(select, SELECT, Forms, Normal)                       \
  X(small, SMALL, None, Normal)                          \
  X(span, SPAN, None, Normal)                            \
  X(strike, STRIKE, None, Normal)                        \
  X(strong, STRONG, None, Normal)                        \
  X(style, STYLE, None, Raw)                             \
  X(sub, SUB, None, Normal)                              \
  X(sup, SUP, None, Normal)                              \
  X(table, TABLE, None, Normal)                          \
  X(tbody, TBODY, None, Normal)                          \
  X(td, TD, None, Normal)                                \
  X(textarea, TEXTAREA, Forms, Escapable)                \
  X(tfoot, TFOOT, None, Normal)                          \
  X(th, TH, None, Normal)                                \
  X(thead, THEAD, None, Normal)                          \
  X(title, TITLE, None, Escapable)                       \
  X(tr, TR, None, Normal)                                \
  X(tt, TT, None, Normal)                                \
  X(u, U, None, Normal)                                  \
  X(ul, UL, None, Normal)                                \
  X(var, VAR, None, Normal)

// Tag ids (HTML_TAG_A == 5, HTML_TAG_VAR == HTML_TAG_LAST).
enum EHTMLTagId : std::uint8_t {
  HTML_TAG_NONE = 0,
  HTML_TAG_COMMENT = 3,
  HTML_TAG_DECLARATION = 4,
#define ZZ_HTML_TAG_ENUM(name, ID, list, content) HTML_TAG_##ID,
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
