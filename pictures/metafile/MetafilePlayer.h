#pragma once
// The player that draws a metafile's records onto a QPainter: the device context it keeps,
// the objects the records make, and the drawing both formats share. The records of each
// format are read in MetafileEmfPlayer.cpp and MetafileWmfPlayer.cpp, text in
// MetafileText.cpp.
#include <QBrush>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QTransform>
#include <iconv.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pictures/metafile/MetafileEmfPlus.h"
#include "pictures/metafile/MetafileRecord.h"

namespace platform::metafile {

struct FontSpec {
    int height = 0, width = 0, escapement = 0, weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 1;
    QString face;
};

enum class SymbolFace;

struct Object {
    enum Type { None, Pen, Brush, Font, Region, Other } type = None;
    QPen pen;
    double penWidth = 0;  // logical units; 0 draws one pixel
    QBrush brush;
    FontSpec font;
    QPainterPath region;
};

struct DeviceContext {
    QPen pen{Qt::black};
    double penWidth = 0;
    QBrush brush{Qt::white};
    FontSpec font;
    QColor textColor{Qt::black}, bkColor{Qt::white};
    int bkMode = 2;  // opaque
    uint32_t textAlign = 0;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    int mapMode = 1;
    QPointF winOrg, vpOrg;
    QSizeF winExt{1, 1}, vpExt{1, 1};
    bool windowSet = false;
    QTransform world;
    QPointF cur;
    std::optional<QPainterPath> clip;  // device space
    bool clockwise = false;
};

// A COLORREF: red, green and blue in the low three bytes.
inline QColor ColorRef(uint32_t v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

// Appends one sign to text and its advance to `dx` (when given); a sign past the 16-bit
// range takes two code units, the second with no advance of its own.
void AppendSign(QString& text, std::vector<double>* dx, char32_t sign, double advance);

// Whether glyphs of `pixels` drawn under `t` stay within what a glyph can be: not stretched
// past 16384 pixels, not squeezed to nothing, not sheared or stretched more than 64 times as
// much one way as the other. The glyph rasterizer gives such glyphs bitmaps of gigabytes.
bool GlyphsFit(const QTransform& t, double pixels);

// A brush of one of the six hatch styles; solid for any other number.
QBrush HatchBrush(int hatch, const QColor& colour);

// Plays the records of one metafile onto a painter, the picture stretched to a target.
class Player {
public:
    Player(const Metafile& mf, QPainter& painter, const QRectF& target);
    ~Player();

    void Play();

private:
    // ---- coordinate spaces: logical, device (the frame's space), painter ----

    QTransform LogicalToDevice(bool withWorld = true) const;
    QTransform Full() const { return LogicalToDevice() * frameToPainter_; }

    // The frame stands for "everything" in clip arithmetic: nothing outside it is shown.
    QPainterPath Everything() const;

    void ApplyClip();

    // Combines a device-space area with the clip: 1 and, 2 or, 3 xor, 4 minus, 5 replace.
    void CombineClip(const QPainterPath& area, int mode);

    // ---- drawing ----

    void Prepare(bool stroke, bool fill);

    void Shape(QPainterPath path, bool fill);

    void Polyline(const std::vector<QPointF>& pts, bool closed);

    // Continues from the current position (LineTo, PolylineTo, PolyBezierTo).
    void From(const std::vector<QPointF>& pts, bool bezier);

    void Bezier(const std::vector<QPointF>& pts);

    void PolyPoly(const std::vector<std::vector<QPointF>>& polys, bool closed);

    // Arc, chord (kind 1) and pie (kind 2) between the radial lines through `start` and `end`.
    void ArcShape(QRectF box, QPointF start, QPointF end, int kind);

    void Rectangle(QRectF r, double rx = 0, double ry = 0);

    void Ellipse(QRectF r);

    void FillArea(const QPainterPath& p, const QBrush& brush);

    // Blits a record's bitmap into the logical rectangle `dest` from `src` in its pixels.
    void Blit(const Rec& r, QRectF dest, QRectF src, uint32_t rop, bool fromBottom);

    // Blits that blend (AlphaBlend), leave one colour out (TransparentBlt), choose by a mask
    // (MaskBlt) or draw into a parallelogram (PlgBlt).
    void AlphaBlend(const Rec& r);
    void TransparentBlit(const Rec& r);
    void MaskBlit(const Rec& r);
    void PlgBlit(const Rec& r);
    // Draws `img`, whose part `src` is placed by `place` (its pixels to logical units).
    // Unsmoothed, stretched pixels keep hard edges, so a colour left out leaves no fringe.
    void Place(const QImage& img, const QRectF& src, const QTransform& place, double opacity = 1, bool smooth = true);

    // ---- text ----

    QString Decode(const unsigned char* s, size_t n, int charset);

    // Whether a face of that name is installed here (asked once a face).
    bool FaceInstalled(const QString& face) const;
    // The sign of a code in a symbol face: the face's own code when it is installed, else
    // the Unicode sign of its table.
    char32_t Sign(SymbolFace face, unsigned char c);

    QFont MakeFont(const FontSpec& f) const;

    // Text at a logical reference point. `dx` holds the advance of each character in logical
    // units, or nothing. Glyphs stand upright on the device whatever the logical axes do.
    void Text(QPointF ref, const QString& text, std::vector<double> dx, uint32_t options, std::optional<QRectF> rect);

    // 8-bit text in the selected font's character set; advances given per byte are summed
    // for the characters that take two.
    void ByteText(QPointF ref, const unsigned char* s, size_t n, const std::vector<double>& byteDx, uint32_t options,
                  std::optional<QRectF> rect);

    // ---- EMF+ ----

    void PlayPlus(const Rec& comment);
    void Plus(const PlusRec& r);
    // World units to the EMF device, and to the painter.
    QTransform PlusToDevice() const;
    QTransform PlusToPainter() const;
    // The object in place `id` when it is of `type`.
    const PlusObject* PlusObjectAt(uint32_t id, PlusObject::Type type) const;
    // A brush field: a colour when the record's flags say so, else a brush object.
    void PlusFill(const QPainterPath& path, uint16_t flags, uint32_t brush);
    void PlusStroke(const QPainterPath& path, uint32_t pen);
    // Combines a world-space area with the clip: replace, intersect, union, xor, exclude,
    // complement.
    void PlusClip(const QPainterPath& world, int mode);
    void PlusObjectRecord(const PlusRec& r);
    // A font object at a pixel size fit for how large it shows; `k` gets the world units one
    // of its pixels takes. False when the text is too small to see or absurdly large.
    bool PlusFont(const PlusObject& font, QFont& f, double& k) const;
    // The pen text is written with: a colour, or a brush object's fill.
    std::optional<QPen> PlusInk(uint16_t flags, uint32_t brush) const;
    void PlusString(const PlusRec& r);
    void PlusDriverString(const PlusRec& r);
    void PlusPicture(const PlusRec& r);

    // ---- objects ----

    Object* ObjectAt(uint32_t index);

    void Create(uint32_t emfIndex, Object obj);

    void Delete(uint32_t index);

    void Select(uint32_t index);

    Object MakePen(uint32_t style, double width, QColor colour);

    Object MakeBrush(uint32_t style, QColor colour, int hatch, size_t recordOffset);

    // ---- records ----

    void SaveDc();
    void RestoreDc(int relative);

    void Emf(const Rec& r);

    void MoveTo(QPointF p);
    void LineTo(QPointF p) { From({p}, false); }

    void OffsetClip(QPointF d);

    // A WMF region: scans of rectangles between a top and a bottom.
    Object WmfRegion(const Rec& r);

    // A WMF box, given as bottom, right, top, left.
    QRectF WmfBox(const Rec& r, size_t first);

    void Wmf(const Rec& r);

    const Metafile& mf_;
    const Metafile::Header& head_;
    const bool emf_;
    QPainter& painter_;
    const QRectF target_;
    QTransform frameToPainter_;
    DeviceContext dc_;
    std::vector<DeviceContext> saved_;
    std::vector<Object> objects_;  // WMF object table
    size_t freeHint_ = 0;
    std::map<uint32_t, Object> emfObjects_;
    bool inPath_ = false;
    QPainterPath path_;
    std::map<std::string, iconv_t> converters_;
    mutable std::map<QString, bool> installed_;
    PlusState plus_;
    std::vector<std::pair<uint32_t, PlusState>> plusSaved_;
    std::array<PlusObject, kPlusObjects> plusObjects_;
    PlusPieces plusPieces_;
    bool plusGdi_ = false;  // EMF records after GetDC draw in an EMF+ picture
};

}  // namespace platform::metafile
