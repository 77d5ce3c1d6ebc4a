#include "framework/Graphics.h"

namespace framework {

const IdentList& ColorIdents() {
  static const IdentList list = {
      {"clBlack", clBlack},         {"clMaroon", clMaroon},
      {"clGreen", clGreen},         {"clOlive", clOlive},
      {"clNavy", clNavy},           {"clPurple", clPurple},
      {"clTeal", clTeal},           {"clGray", clGray},
      {"clSilver", clSilver},       {"clRed", clRed},
      {"clLime", clLime},           {"clYellow", clYellow},
      {"clBlue", clBlue},           {"clFuchsia", clFuchsia},
      {"clAqua", clAqua},           {"clWhite", clWhite},
      {"clWindow", clWindow},       {"clWindowText", clWindowText},
      {"clBtnFace", clBtnFace},     {"clBtnShadow", clBtnShadow},
      {"clGrayText", clGrayText},   {"clBtnText", clBtnText},
      {"clBtnHighlight", clBtnHighlight},
      {"clHighlight", clHighlight}, {"clHighlightText", clHighlightText},
  };
  return list;
}

TColor ColorToRGB(TColor color) {
  if ((color & kSystemColor) == 0) return color & 0xFFFFFF;
  // The classic desktop scheme.
  switch (color) {
    case clWindow: return clWhite;
    case clWindowText: return clBlack;
    case clBtnFace: return RGB(212, 208, 200);
    case clBtnShadow: return RGB(128, 128, 128);
    case clGrayText: return RGB(128, 128, 128);
    case clBtnText: return clBlack;
    case clBtnHighlight: return clWhite;
    case clHighlight: return RGB(10, 36, 106);
    case clHighlightText: return clWhite;
    default: return clBlack;
  }
}

const TClassInfo& TFont::StaticClassInfo() {
  static const TClassInfo info = DefineClass<TFont>(
      "TFont", &TPersistent::StaticClassInfo(), [](PropertyBuilder<TFont>& p) {
        p.Int("Charset", &TFont::Charset, &TFont::SetCharset, DEFAULT_CHARSET)
            .Constants({{"ANSI_CHARSET", ANSI_CHARSET},
                        {"DEFAULT_CHARSET", DEFAULT_CHARSET},
                        {"RUSSIAN_CHARSET", RUSSIAN_CHARSET}});
        p.Color("Color", &TFont::Color, &TFont::SetColor, clWindowText);
        p.Int("Height", &TFont::Height, &TFont::SetHeight, -11);
        p.Str("Name", &TFont::Name, &TFont::SetName, "MS Sans Serif");
        p.Set<TFontStyle>("Style", &TFont::Style, &TFont::SetStyle, TFontStyles{},
                          {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"});
      });
  return info;
}

void TFont::SetName(const std::string& value) {
  if (value == name_) return;
  name_ = value;
  Changed();
}

void TFont::SetHeight(int value) {
  if (value == height_) return;
  height_ = value;
  Changed();
}

void TFont::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  Changed();
}

void TFont::SetStyle(TFontStyles value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}

void TFont::SetCharset(int value) {
  if (value == charset_) return;
  charset_ = value;
  Changed();
}

void TFont::Assign(const TPersistent& Source) {
  const auto* other = dynamic_cast<const TFont*>(&Source);
  if (other == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (*this == *other) return;
  name_ = other->name_;
  height_ = other->height_;
  color_ = other->color_;
  style_ = other->style_;
  charset_ = other->charset_;
  Changed();
}

bool TFont::operator==(const TFont& other) const {
  return name_ == other.name_ && height_ == other.height_ && color_ == other.color_ &&
         style_ == other.style_ && charset_ == other.charset_;
}

void TFont::Changed() {
  if (OnChange) OnChange();
}

}  // namespace framework
