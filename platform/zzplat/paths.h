// Wide paths of the product's form ("C:\data\prlblk.cas", "data\list.dat") mapped to local
// UTF-8 paths: "\" becomes "/", the text is encoded as UTF-8 (unpaired surrogates become
// U+FFFD). Pure functions, thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace zzplat {

std::string LocalPath(const char16_t* path);
std::string Utf16ToUtf8Lenient(const char16_t* text);
std::u16string Utf8ToUtf16Lenient(const std::string& text);
// As Utf8ToUtf16Lenient, appending to out (a reused buffer spares an allocation per call).
void AppendUtf8AsUtf16Lenient(std::string_view text, std::u16string& out);

}  // namespace zzplat
