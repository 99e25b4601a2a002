// The face that the window and the warning box ask for, looked up in fontconfig: it has to
// draw the Chinese texts as well as the Latin ones. (Windows names its face directly.)
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/window.h"

namespace {

TEST(UiFont, TheChosenFaceHasChineseGlyphs) {
  const std::string face = platform::uiFontFace();
  ASSERT_FALSE(face.empty());
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
  FcObjectSet* fields = FcObjectSetBuild(FC_FAMILY, FC_CHARSET, nullptr);
  FcFontSet* fonts = FcFontList(nullptr, pattern, fields);
  bool coversChinese = false;
  for (int i = 0; fonts && i < fonts->nfont; ++i) {
    FcCharSet* charset = nullptr;
    if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &charset) != FcResultMatch) continue;
    // 更 (U+66F4), 新 (U+65B0) and the full-width comma of the texts.
    coversChinese = coversChinese || (FcCharSetHasChar(charset, 0x66F4) && FcCharSetHasChar(charset, 0x65B0) &&
                                      FcCharSetHasChar(charset, 0xFF0C) && FcCharSetHasChar(charset, 'F'));
  }
  if (fonts) FcFontSetDestroy(fonts);
  FcObjectSetDestroy(fields);
  FcPatternDestroy(pattern);
  EXPECT_TRUE(coversChinese) << face << " (install a Chinese face, e.g. fonts-wqy-zenhei)";
}

}  // namespace
