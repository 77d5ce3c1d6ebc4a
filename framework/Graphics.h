// Colours and fonts.
//
// TColor is a 32-bit value: $00BBGGRR for a plain colour, or $80000000 plus
// a system colour index for the system colours (clBtnFace, clWindowText...),
// which are resolved to fixed values here because the program keeps the
// classic look whatever the desktop theme.
//
// Font heights are character heights in pixels; a negative height means the
// same as its magnitude. "MS Sans Serif" is drawn with Liberation Sans, which
// has the same metrics and covers Cyrillic.
//
// Thread safety: TFont belongs to the window's thread; the colour functions
// may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "framework/Classes.h"
#include "framework/Properties.h"

namespace framework {

using TColor = std::int32_t;

constexpr TColor RGB(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor kSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clWindow = kSystemColor | 5;
constexpr TColor clWindowText = kSystemColor | 8;
constexpr TColor clBtnFace = kSystemColor | 15;
constexpr TColor clBtnShadow = kSystemColor | 16;
constexpr TColor clGrayText = kSystemColor | 17;
constexpr TColor clBtnText = kSystemColor | 18;
constexpr TColor clBtnHighlight = kSystemColor | 20;
constexpr TColor clHighlight = kSystemColor | 13;
constexpr TColor clHighlightText = kSystemColor | 14;

// The colour as $00BBGGRR with system colours resolved.
TColor ColorToRGB(TColor color);

enum class TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

constexpr int DEFAULT_CHARSET = 1;
constexpr int ANSI_CHARSET = 0;
constexpr int RUSSIAN_CHARSET = 204;

class TFont : public TPersistent {
 public:
  static const TClassInfo& StaticClassInfo();
  const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

  const std::string& Name() const { return name_; }
  void SetName(const std::string& value);
  int Height() const { return height_; }
  void SetHeight(int value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles value);
  int Charset() const { return charset_; }
  void SetCharset(int value);
  // The pixel size a view draws with.
  int PixelSize() const { return height_ < 0 ? -height_ : height_; }

  void Assign(const TPersistent& Source) override;
  bool operator==(const TFont& other) const;

  // Runs after every change (the owning control mirrors the font).
  std::function<void()> OnChange;

 private:
  void Changed();

  std::string name_ = "MS Sans Serif";
  int height_ = -11;
  TColor color_ = clWindowText;
  TFontStyles style_;
  int charset_ = DEFAULT_CHARSET;
};

}  // namespace framework
