// renderer.cpp - cairo drawing of text, bars and dots.
//
// Text uses DejaVu Sans Mono, loaded by FreeType straight from its file (no
// fontconfig lookup, so every machine draws the same glyphs; the toy font
// API is the fallback), and places every character in its own cell, so columns line up exactly as
// the printer's do whatever the font's own advance. Bars and raster dots are
// written straight into the surface's pixels.
//
// The paper is drawn as ink coverage (an 8-bit alpha surface, a quarter of
// the memory of a colour one) and written as an 8-bit grey PNG (png_file.cpp):
// a receipt is black on white, and encoding a colour PNG at the default
// compression cost far more than the drawing did.
#include "renderer.h"

#include "png_file.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace it433td::printer {

namespace {

constexpr const char *kFontFamily = "DejaVu Sans Mono";
constexpr const char *kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
// Font sizes whose character advance (0.602 em) fills the cell.
constexpr double kNormalFontSize = 20.0;
constexpr double kCondensedFontSize = 15.0;
constexpr double kBaselineDots = 18.0;  // from the top of a 24-dot line
// A receipt with warnings: a margin right of the paper holds a mark beside
// each place one happened, and a banner under the paper counts them, so a
// glance at the picture tells a clean receipt from a doubtful one.
constexpr int kWarningMarginDots = 40;
constexpr int kWarningBannerDots = 40;
constexpr double kMarginInk = 0.12;  // the margin is light grey: not paper

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// The font face, loaded once for the process and kept to its end; null when
// the file cannot be loaded. IT433TD_PRINTER_FONT names another font file.
cairo_font_face_t *monospaceFace() {
  static cairo_font_face_t *const face = [] () -> cairo_font_face_t * {
    const char *path = std::getenv("IT433TD_PRINTER_FONT");
    FT_Library library = nullptr;
    FT_Face ftFace = nullptr;
    if (FT_Init_FreeType(&library) != 0) return nullptr;
    if (FT_New_Face(library, path && *path ? path : kFontFile, 0, &ftFace) != 0) {
      FT_Done_FreeType(library);
      return nullptr;
    }
    cairo_font_face_t *created = cairo_ft_font_face_create_for_ft_face(ftFace, 0);
    if (cairo_font_face_status(created) != CAIRO_STATUS_SUCCESS) {
      cairo_font_face_destroy(created);
      FT_Done_Face(ftFace);
      FT_Done_FreeType(library);
      return nullptr;
    }
    return created;
  }();
  return face;
}

class Canvas {
public:
  Canvas(int width, int height)
      : surface_(cairo_image_surface_create(CAIRO_FORMAT_A8, width, height),
                 cairo_surface_destroy),
        cr_(cairo_create(surface_.get()), cairo_destroy) {
    // A new A8 surface is all zero: no ink, white paper.
    cairo_set_source_rgba(cr_.get(), 0, 0, 0, 1);
    if (cairo_font_face_t *face = monospaceFace())
      cairo_set_font_face(cr_.get(), face);
    else
      cairo_select_font_face(cr_.get(), kFontFamily, CAIRO_FONT_SLANT_NORMAL,
                             CAIRO_FONT_WEIGHT_NORMAL);
  }

  cairo_surface_t *surface() { return surface_.get(); }

  void text(const PrintedItem &line) {
    for (const Glyph &glyph : line.glyphs) {
      const bool plain = glyph.scaleX == 1 && glyph.scaleY == 1 && !glyph.bold &&
                         !glyph.underline && !glyph.reverse && !glyph.upsideDown;
      if (plain) {
        if (glyph.utf8.empty() || glyph.utf8 == " ") continue;
        fontSize(glyph.small ? kCondensedFontSize : kNormalFontSize);
        cairo_move_to(cr_.get(), glyph.x,
                      line.y + glyph.y + kBaselineDots * glyph.height / kLineHeightDots);
        cairo_show_text(cr_.get(), glyph.utf8.c_str());
      } else {
        styledGlyph(glyph, line.y + glyph.y);
      }
    }
  }

  // An ESC/POS glyph: magnified, bold (struck twice, a dot apart),
  // underlined, white on black, or turned upside down within its cell.
  void styledGlyph(const Glyph &glyph, int top) {
    cairo_t *cr = cr_.get();
    cairo_save(cr);
    cairo_translate(cr, glyph.x, top);
    if (glyph.upsideDown) {
      cairo_translate(cr, glyph.width, glyph.height);
      cairo_rotate(cr, 3.14159265358979323846);
    }
    if (glyph.reverse) {
      cairo_rectangle(cr, 0, 0, glyph.width, glyph.height);
      cairo_fill(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    }
    const double cell = glyph.small ? 17.0 : kLineHeightDots;
    cairo_scale(cr, glyph.scaleX, glyph.scaleY);
    cairo_set_font_size(cr, glyph.small ? kCondensedFontSize : kNormalFontSize);
    const double baseline = kBaselineDots * cell / kLineHeightDots;
    if (!glyph.utf8.empty() && glyph.utf8 != " ") {
      for (int strike = 0; strike < (glyph.bold ? 2 : 1); ++strike) {
        cairo_move_to(cr, strike, baseline);
        cairo_show_text(cr, glyph.utf8.c_str());
      }
    }
    if (glyph.underline) {
      cairo_rectangle(cr, 0, baseline + 2, static_cast<double>(glyph.width) / glyph.scaleX,
                      static_cast<double>(glyph.underline) / glyph.scaleY);
      cairo_fill(cr);
    }
    cairo_restore(cr);
    fontSize_ = 0;  // the font matrix was the scaled one's
  }

  void centredText(const std::string &utf8, int y, int left, int width) {
    fontSize(kNormalFontSize);
    cairo_text_extents_t extents;
    cairo_text_extents(cr_.get(), utf8.c_str(), &extents);
    cairo_move_to(cr_.get(), std::max(0.0, left + (width - extents.x_advance) / 2),
                  y + kBaselineDots);
    cairo_show_text(cr_.get(), utf8.c_str());
  }

  // A black triangle in the margin, pointing at the paper, beside `top`.
  void warningMark(int top, int paperWidth) {
    const double left = paperWidth + 4, right = paperWidth + kWarningMarginDots - 4;
    cairo_move_to(cr_.get(), left, top + kLineHeightDots / 2.0);
    cairo_line_to(cr_.get(), right, top + 2);
    cairo_line_to(cr_.get(), right, top + kLineHeightDots - 2);
    cairo_close_path(cr_.get());
    cairo_fill(cr_.get());
  }

  void margin(int height, int paperWidth) {
    cairo_set_source_rgba(cr_.get(), 0, 0, 0, kMarginInk);
    cairo_rectangle(cr_.get(), paperWidth, 0, kWarningMarginDots, height);
    cairo_fill(cr_.get());
    cairo_set_source_rgba(cr_.get(), 0, 0, 0, 1);
  }

  // White text on a black band across the picture, from `top` down.
  void banner(const std::string &utf8, int top, int width) {
    cairo_rectangle(cr_.get(), 0, top, width, kWarningBannerDots);
    cairo_fill(cr_.get());
    cairo_set_operator(cr_.get(), CAIRO_OPERATOR_CLEAR);  // no ink: white
    fontSize(kNormalFontSize);
    cairo_move_to(cr_.get(), kNormalCharDots, top + (kWarningBannerDots - kLineHeightDots) / 2.0 + kBaselineDots);
    cairo_show_text(cr_.get(), utf8.c_str());
    cairo_set_operator(cr_.get(), CAIRO_OPERATOR_OVER);
  }

  // Full ink on the dots of row y from x for `count` dots where ink(i) says
  // so, clipped to the surface; call flushPixels() before and markDirty()
  // after.
  void flushPixels() { cairo_surface_flush(surface_.get()); }
  void markDirty() { cairo_surface_mark_dirty(surface_.get()); }
  template <typename Ink>
  void dotRow(int x, int y, int count, Ink ink) {
    if (y < 0 || y >= height_) return;
    unsigned char *row = data_ + dotIndex(0, y, stride_);
    for (int i = std::max(0, -x); i < count && x + i < width_; ++i)
      if (ink(i)) row[x + i] = 0xFF;
  }

private:
  // The scaled font changes only with the size: setting the same size again
  // would make cairo look it up anew for every glyph.
  void fontSize(double size) {
    if (size == fontSize_) return;
    cairo_set_font_size(cr_.get(), size);
    fontSize_ = size;
  }

  Surface surface_;
  Context cr_;
  unsigned char *data_ = cairo_image_surface_get_data(surface_.get());
  int width_ = cairo_image_surface_get_width(surface_.get());
  int height_ = cairo_image_surface_get_height(surface_.get());
  int stride_ = cairo_image_surface_get_stride(surface_.get());
  double fontSize_ = 0;
};

void drawDots(Canvas &canvas, const PrintedItem &item) {
  canvas.flushPixels();
  if (item.kind == ItemKind::Barcode) {
    const int count = static_cast<int>(item.modules.size()) * item.moduleWidth;
    const int top = item.y + (item.textAbove ? kLineHeightDots : 0);
    for (int y = 0; y < item.barHeight; ++y)
      canvas.dotRow(item.x, top + y, count, [&](int i) {
        return item.modules[static_cast<size_t>(i / item.moduleWidth)] != 0;
      });
  } else {
    for (int y = 0; y < item.height; ++y) {
      const std::uint8_t *dots = item.pixels.data() + dotIndex(0, y, item.width);
      canvas.dotRow(item.x, item.y + y, item.width, [&](int i) { return dots[i] != 0; });
    }
  }
  canvas.markDirty();
}

Canvas draw(const Receipt &receipt) {
  int warnings = 0;
  for (const PrintedItem &item : receipt.items) warnings += item.kind == ItemKind::Warning;
  const int paperHeight = std::max(1, receipt.lengthDots);
  const int paperWidth = receipt.widthDots;
  Canvas canvas(paperWidth + (warnings ? kWarningMarginDots : 0),
                paperHeight + (warnings ? kWarningBannerDots : 0));
  if (warnings) canvas.margin(paperHeight, paperWidth);
  for (const PrintedItem &item : receipt.items) {
    switch (item.kind) {
      case ItemKind::TextLine: canvas.text(item); break;
      case ItemKind::Barcode: {
        drawDots(canvas, item);
        const int bars = static_cast<int>(item.modules.size()) * item.moduleWidth;
        if (item.textAbove) canvas.centredText(item.humanReadable, item.y, item.x, bars);
        if (item.textBelow)
          canvas.centredText(item.humanReadable,
                             item.y + item.barHeight + (item.textAbove ? kLineHeightDots : 0),
                             item.x, bars);
        break;
      }
      case ItemKind::Image: drawDots(canvas, item); break;
      // Its line follows the printed line it is about: the mark is beside that.
      case ItemKind::Warning:
        canvas.warningMark(std::max(0, item.y - kLineHeightDots), paperWidth);
        break;
      case ItemKind::Feed:
      case ItemKind::Note: break;
    }
  }
  if (warnings)
    canvas.banner(std::to_string(warnings) + (warnings == 1 ? " WARNING" : " WARNINGS") +
                      ": see the transcript",
                  paperHeight, paperWidth + kWarningMarginDots);
  cairo_surface_flush(canvas.surface());
  return canvas;
}

}  // namespace

GreyImage renderGrey(const Receipt &receipt) {
  Canvas canvas = draw(receipt);
  cairo_surface_t *surface = canvas.surface();
  GreyImage image;
  image.width = cairo_image_surface_get_width(surface);
  image.height = cairo_image_surface_get_height(surface);
  image.pixels.resize(dotCount(image.width, image.height));
  const unsigned char *data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.height; ++y) {
    const unsigned char *ink = data + dotIndex(0, y, stride);
    std::uint8_t *grey = image.pixels.data() + dotIndex(0, y, image.width);
    for (int x = 0; x < image.width; ++x) grey[x] = static_cast<std::uint8_t>(255 - ink[x]);
  }
  return image;
}

bool writePng(const Receipt &receipt, const std::filesystem::path &path, std::string *error) {
  Canvas canvas = draw(receipt);
  cairo_surface_t *surface = canvas.surface();
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  unsigned char *data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < height; ++y) {  // ink to grey, in place
    unsigned char *row = data + dotIndex(0, y, stride);
    for (int x = 0; x < width; ++x) row[x] = static_cast<unsigned char>(255 - row[x]);
  }
  return writeGreyPng(path, data, width, height, stride, error);
}

}  // namespace it433td::printer
