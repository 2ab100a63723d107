// zv-draw-pictures: draws every picture the window loads from ":/images/resource/"
// plus the application icon, and writes them as PNG files into one folder.
//
// Usage: zv-draw-pictures [output-folder]      (default: resources/images)
//
// The pictures are drawn from code so that they can be regenerated at any
// time and stay one consistent set: charcoal chrome, one blue accent, white
// symbols, DejaVu Sans for every letter.

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <QTransform>

#include <cmath>
#include <functional>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Palette
// ---------------------------------------------------------------------------

namespace Ink {
const QColor charcoalTop(0x4a, 0x51, 0x58);
const QColor charcoalBottom(0x2b, 0x30, 0x35);
const QColor charcoalEdge(0x1b, 0x1e, 0x21);
const QColor pressedTop(0x1c, 0x1f, 0x22);
const QColor pressedBottom(0x33, 0x38, 0x3e);
const QColor pressedEdge(0x10, 0x12, 0x14);
const QColor disabledTop(0xe6, 0xe8, 0xea);
const QColor disabledBottom(0xd2, 0xd5, 0xd8);
const QColor disabledEdge(0xb0, 0xb5, 0xba);
const QColor disabledSymbol(0xa2, 0xa7, 0xac);

const QColor accent(0x1c, 0x8a, 0xd6);
const QColor accentLight(0x4c, 0xb0, 0xf2);
const QColor accentDark(0x12, 0x62, 0x9e);
const QColor accentDeep(0x0e, 0x4f, 0x82);

const QColor white(0xff, 0xff, 0xff);
const QColor pressedSymbol(0xc4, 0xca, 0xd0);
const QColor text(0x33, 0x38, 0x3d);
const QColor paperEdge(0x56, 0x5d, 0x64);
const QColor paperTop(0xff, 0xff, 0xff);
const QColor paperBottom(0xea, 0xed, 0xf0);
const QColor segmentOffTop(0xff, 0xff, 0xff);
const QColor segmentOffBottom(0xe4, 0xe7, 0xea);
const QColor segmentOffEdge(0x8a, 0x91, 0x98);
} // namespace Ink

const char *const kFontFamily = "DejaVu Sans";

enum class Look { Normal, Pressed, Disabled };

// Colours of the symbol drawn on a button body in a given look.
struct SymbolInk
{
    QColor main;
    QColor accent;
};

SymbolInk symbolInk(Look look)
{
    switch (look) {
    case Look::Normal:
        return {Ink::white, Ink::accentLight};
    case Look::Pressed:
        return {Ink::pressedSymbol, Ink::accent};
    case Look::Disabled:
        break;
    }
    return {Ink::disabledSymbol, Ink::disabledSymbol};
}

QFont dejaVu(int pixelSize, bool bold)
{
    QFont font(QString::fromLatin1(kFontFamily));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// ---------------------------------------------------------------------------
// Shared drawing helpers
// ---------------------------------------------------------------------------

// Draws one line of text centred in box. Text wider than the box is squeezed
// horizontally instead of being cut off. Vertical centring uses the ink of
// the text, not the font's ascent and descent, so capitals sit in the middle.
void drawCentredText(QPainter &p, const QRectF &box, const QString &text, const QFont &font, const QColor &color)
{
    const QFontMetricsF fm(font, p.device());
    const QRectF ink = fm.tightBoundingRect(text);
    const qreal advance = fm.horizontalAdvance(text);
    const qreal squeeze = advance > box.width() ? box.width() / advance : 1.0;

    const qreal x = box.center().x() - advance * squeeze / 2.0;
    const qreal baseline = std::round(box.center().y() - ink.center().y());

    p.save();
    p.setFont(font);
    p.setPen(color);
    p.translate(x, baseline);
    p.scale(squeeze, 1.0);
    p.drawText(QPointF(0, 0), text);
    p.restore();
}

QPainterPath roundedRect(const QRectF &r, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// The raised or sunken body shared by the download, setting and return
// buttons. The pressed look is darker with its shading turned upside down;
// the disabled look is a flat light grey.
void drawButtonBody(QPainter &p, const QRectF &r, qreal radius, Look look)
{
    const QPainterPath body = roundedRect(r, radius);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    QColor edge;

    switch (look) {
    case Look::Normal:
        p.fillPath(roundedRect(r.translated(0, 1), radius), QColor(0, 0, 0, 50));
        fill.setColorAt(0, Ink::charcoalTop);
        fill.setColorAt(1, Ink::charcoalBottom);
        edge = Ink::charcoalEdge;
        break;
    case Look::Pressed:
        fill.setColorAt(0, Ink::pressedTop);
        fill.setColorAt(1, Ink::pressedBottom);
        edge = Ink::pressedEdge;
        break;
    case Look::Disabled:
        fill.setColorAt(0, Ink::disabledTop);
        fill.setColorAt(1, Ink::disabledBottom);
        edge = Ink::disabledEdge;
        break;
    }

    p.fillPath(body, fill);

    // A thin rim just inside the top edge: a highlight when raised, a shadow
    // when pushed in.
    if (look != Look::Disabled) {
        p.save();
        p.setClipRect(QRectF(r.left(), r.top(), r.width(), r.height() / 2.0));
        const QColor rim = look == Look::Normal ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 120);
        const qreal inset = look == Look::Normal ? 1.0 : 1.5;
        p.setPen(QPen(rim, look == Look::Normal ? 1.0 : 2.0));
        p.setBrush(Qt::NoBrush);
        p.drawPath(roundedRect(r.adjusted(inset, inset, -inset, -inset), radius - inset));
        p.restore();
    }

    p.setPen(QPen(edge, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(body);
}

// Pressed buttons show their symbol one pixel lower, as if pushed in.
QPointF symbolOffset(Look look)
{
    return look == Look::Pressed ? QPointF(0, 1) : QPointF(0, 0);
}

// ---------------------------------------------------------------------------
// Tiny pixel font for the type letters of the 16 x 15 table icons, where an
// outline font would blur into grey. Glyphs are 5 rows high; 'X' marks ink.
// ---------------------------------------------------------------------------

struct PixelGlyph
{
    QChar ch;
    const char *rows[5];
};

const PixelGlyph kPixelGlyphs[] = {
    {QLatin1Char('A'), {".X.", "X.X", "XXX", "X.X", "X.X"}},
    {QLatin1Char('D'), {"XX.", "X.X", "X.X", "X.X", "XX."}},
    {QLatin1Char('F'), {"XXX", "X..", "XX.", "X..", "X.."}},
    {QLatin1Char('I'), {"XXX", ".X.", ".X.", ".X.", "XXX"}},
    {QLatin1Char('M'), {"X...X", "XX.XX", "X.X.X", "X...X", "X...X"}},
    {QLatin1Char('P'), {"XX.", "X.X", "XX.", "X..", "X.."}},
    {QLatin1Char('S'), {".XX", "X..", ".X.", "..X", "XX."}},
    {QLatin1Char('V'), {"X.X", "X.X", "X.X", "X.X", ".X."}},
    {QLatin1Char('W'), {"X...X", "X...X", "X.X.X", "X.X.X", ".X.X."}},
    {QLatin1Char('3'), {"XXX", "..X", ".XX", "..X", "XXX"}},
};

const PixelGlyph &pixelGlyph(QChar ch)
{
    for (const PixelGlyph &glyph : kPixelGlyphs) {
        if (glyph.ch == ch)
            return glyph;
    }
    qFatal("drawpictures: no pixel glyph for '%c'", ch.toLatin1());
}

int pixelGlyphWidth(const PixelGlyph &glyph)
{
    return int(qstrlen(glyph.rows[0]));
}

int pixelTextWidth(const QString &text)
{
    int width = 0;
    for (QChar ch : text)
        width += pixelGlyphWidth(pixelGlyph(ch)) + 1;
    return text.isEmpty() ? 0 : width - 1;
}

void drawPixelText(QPainter &p, int x, int y, const QString &text, const QColor &color)
{
    for (QChar ch : text) {
        const PixelGlyph &glyph = pixelGlyph(ch);
        for (int row = 0; row < 5; ++row) {
            for (int col = 0; glyph.rows[row][col] != '\0'; ++col) {
                if (glyph.rows[row][col] == 'X')
                    p.fillRect(QRect(x + col, y + row, 1, 1), color);
            }
        }
        x += pixelGlyphWidth(glyph) + 1;
    }
}

// ---------------------------------------------------------------------------
// Logo
// ---------------------------------------------------------------------------

void drawLogo(QPainter &p, const QSize &size)
{
    // "ZV" badge in the accent colour, followed by the program's name.
    const QRectF badge(0.5, 0.5, 27, size.height() - 1);
    QLinearGradient fill(badge.topLeft(), badge.bottomLeft());
    fill.setColorAt(0, Ink::accentLight);
    fill.setColorAt(1, Ink::accent);
    p.fillPath(roundedRect(badge, 3), fill);
    p.setPen(QPen(Ink::accentDark, 1));
    p.drawPath(roundedRect(badge, 3));
    drawCentredText(p, badge, QStringLiteral("ZV"), dejaVu(11, true), Ink::white);

    const QRectF name(badge.right() + 3, 0, size.width() - badge.right() - 3, size.height());
    drawCentredText(p, name, QStringLiteral("TRANSFER"), dejaVu(12, true), Ink::text);
}

// ---------------------------------------------------------------------------
// Navigation bar: return button and the MUSIC / MTR segmented switch
// ---------------------------------------------------------------------------

void drawReturnButton(QPainter &p, const QSize &size, Look look)
{
    const QRectF body(0.5, 0.5, size.width() - 1, size.height() - 2);
    drawButtonBody(p, body, 3.5, look);

    const SymbolInk ink = symbolInk(look);
    p.translate(symbolOffset(look));

    // Bent arrow: up out of the folder, then left to its parent.
    QPainterPath stem;
    stem.moveTo(13.5, 12.0);
    stem.lineTo(13.5, 8.5);
    stem.quadTo(13.5, 6.5, 11.5, 6.5);
    stem.lineTo(7.0, 6.5);
    p.setPen(QPen(ink.main, 1.8, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(stem);

    QPolygonF head;
    head << QPointF(3.5, 6.5) << QPointF(8.0, 2.8) << QPointF(8.0, 10.2);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.main);
    p.drawPolygon(head);
}

enum class Segment { Left, Right };

// One half of the two-part switch that picks the recorder's folder tree.
// The left half has its outer corners rounded on the left, the right half on
// the right; side by side they read as one control.
void drawSegment(QPainter &p, const QSize &size, Segment segment, bool on, const QString &label)
{
    const qreal radius = 4.0;
    const QRectF r(0.5, 0.5, size.width() - 1, size.height() - 1);

    // Round all four corners, then square off the inner side.
    QPainterPath shape = roundedRect(r, radius);
    const QRectF inner = segment == Segment::Left ? QRectF(r.center().x(), r.top(), r.width() / 2.0, r.height())
                                                  : QRectF(r.left(), r.top(), r.width() / 2.0, r.height());
    QPainterPath square;
    square.addRect(inner);
    shape = shape.united(square).simplified();

    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    if (on) {
        fill.setColorAt(0, Ink::accentLight);
        fill.setColorAt(1, Ink::accentDark);
    } else {
        fill.setColorAt(0, Ink::segmentOffTop);
        fill.setColorAt(1, Ink::segmentOffBottom);
    }
    p.fillPath(shape, fill);
    p.setPen(QPen(on ? Ink::accentDeep : Ink::segmentOffEdge, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);

    drawCentredText(p, r.adjusted(3, 0, -3, 0), label, dejaVu(9, true), on ? Ink::white : Ink::text);
}

// ---------------------------------------------------------------------------
// Cancel button of the progress row
// ---------------------------------------------------------------------------

void drawCancelButton(QPainter &p, const QSize &size, bool pressed)
{
    const QRectF r(0.5, 0.5, size.width() - 1, size.height() - 1);
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, pressed ? Ink::pressedTop : Ink::charcoalTop);
    fill.setColorAt(1, pressed ? Ink::pressedBottom : Ink::charcoalBottom);
    p.setPen(QPen(pressed ? Ink::pressedEdge : Ink::charcoalEdge, 1));
    p.setBrush(fill);
    p.drawEllipse(r);

    // The cross is set pixel by pixel: at this size antialiased diagonals
    // turn into a grey smudge.
    const QColor cross = pressed ? Ink::pressedSymbol : Ink::white;
    const int last = size.width() - 1;
    for (int i = 3; i <= last - 3; ++i) {
        p.fillRect(QRect(i, i, 1, 1), cross);
        p.fillRect(QRect(last - i, i, 1, 1), cross);
    }
}

// ---------------------------------------------------------------------------
// Download and setting buttons, 56 x 56
// ---------------------------------------------------------------------------

const QRectF kBigButtonBody(2.5, 2.5, 51, 50);
const qreal kBigButtonRadius = 10.0;

void drawDownloadButton(QPainter &p, const QSize &, Look look)
{
    drawButtonBody(p, kBigButtonBody, kBigButtonRadius, look);
    const SymbolInk ink = symbolInk(look);
    p.translate(symbolOffset(look));

    // Arrow pointing down into a tray.
    QPainterPath arrow;
    arrow.moveTo(24.0, 11.0);
    arrow.lineTo(32.0, 11.0);
    arrow.lineTo(32.0, 24.0);
    arrow.lineTo(38.5, 24.0);
    arrow.lineTo(28.0, 35.0);
    arrow.lineTo(17.5, 24.0);
    arrow.lineTo(24.0, 24.0);
    arrow.closeSubpath();
    p.setPen(QPen(ink.accent, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(ink.accent);
    p.drawPath(arrow);

    QPainterPath tray;
    tray.moveTo(14.5, 32.0);
    tray.lineTo(14.5, 41.5);
    tray.lineTo(41.5, 41.5);
    tray.lineTo(41.5, 32.0);
    p.setPen(QPen(ink.main, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tray);
}

void drawSettingButton(QPainter &p, const QSize &, Look look)
{
    drawButtonBody(p, kBigButtonBody, kBigButtonRadius, look);
    const SymbolInk ink = symbolInk(look);
    p.translate(symbolOffset(look));

    const QPointF c = kBigButtonBody.center();
    const int teeth = 8;
    const qreal ringRadius = 11.5;
    const qreal toothOuter = 17.0;
    const qreal toothWidth = 6.5;
    const qreal holeRadius = 5.5;

    QPainterPath gear;
    gear.addEllipse(c, ringRadius, ringRadius);
    for (int i = 0; i < teeth; ++i) {
        QTransform t;
        t.translate(c.x(), c.y());
        t.rotate(360.0 * i / teeth);
        const QRectF tooth(-toothWidth / 2.0, -toothOuter, toothWidth, toothOuter - ringRadius + 2);
        gear = gear.united(t.map(roundedRect(tooth, 1.5)));
    }
    QPainterPath hole;
    hole.addEllipse(c, holeRadius, holeRadius);
    gear = gear.subtracted(hole);

    p.setPen(Qt::NoPen);
    p.setBrush(ink.main);
    p.drawPath(gear);
    p.setBrush(ink.accent);
    p.drawEllipse(c, 3.0, 3.0);
}

// ---------------------------------------------------------------------------
// File-type and folder icons
// ---------------------------------------------------------------------------

// 16 x 15: a page with a folded corner and a band across it carrying the
// type letters in the pixel font.
void drawSmallTypeIcon(QPainter &p, const QSize &size, const QString &type)
{
    QPainterPath page;
    page.moveTo(2.5, 0.5);
    page.lineTo(9.5, 0.5);
    page.lineTo(13.5, 4.5);
    page.lineTo(13.5, 14.5);
    page.lineTo(2.5, 14.5);
    page.closeSubpath();

    QLinearGradient paper(0, 0, 0, size.height());
    paper.setColorAt(0, Ink::paperTop);
    paper.setColorAt(1, Ink::paperBottom);
    p.fillPath(page, paper);
    p.setPen(QPen(Ink::paperEdge, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(page);

    QPainterPath fold;
    fold.moveTo(9.5, 0.5);
    fold.lineTo(9.5, 4.5);
    fold.lineTo(13.5, 4.5);
    p.drawPath(fold);

    // The band spans the full width so that three-letter types fit.
    const QRect band(0, 6, size.width(), 7);
    p.fillRect(band, Ink::accentDark);

    const QString letters = type.toUpper();
    const int x = (size.width() - pixelTextWidth(letters) + 1) / 2;
    drawPixelText(p, x, band.top() + 1, letters, Ink::white);
}

// 95 x 89: the same page, large, with a waveform and the type written out.
void drawLargeTypeIcon(QPainter &p, const QSize &size, const QString &type)
{
    const qreal left = 12.5, right = 80.5, top = 1.5, bottom = size.height() - 3.5;
    const qreal foldSize = 18.0;

    QPainterPath page;
    page.moveTo(left, top);
    page.lineTo(right - foldSize, top);
    page.lineTo(right, top + foldSize);
    page.lineTo(right, bottom);
    page.lineTo(left, bottom);
    page.closeSubpath();

    // Soft drop shadow under the page.
    for (int i = 1; i <= 2; ++i)
        p.fillPath(page.translated(i * 0.5, i), QColor(0, 0, 0, 28));

    QLinearGradient paper(0, top, 0, bottom);
    paper.setColorAt(0, Ink::paperTop);
    paper.setColorAt(1, Ink::paperBottom);
    p.fillPath(page, paper);
    p.setPen(QPen(Ink::paperEdge, 1.5, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(page);

    QPainterPath fold;
    fold.moveTo(right - foldSize, top);
    fold.lineTo(right - foldSize, top + foldSize - 2);
    fold.quadTo(right - foldSize, top + foldSize, right - foldSize + 2, top + foldSize);
    fold.lineTo(right, top + foldSize);
    QPainterPath foldFace = fold;
    foldFace.closeSubpath();
    p.fillPath(foldFace, QColor(0xd9, 0xdd, 0xe1));
    p.drawPath(fold);

    // Waveform: rounded bars of varying height.
    const qreal heights[] = {6, 14, 24, 16, 30, 20, 26, 12, 18, 8};
    const int bars = int(sizeof heights / sizeof heights[0]);
    const qreal barWidth = 3.0, gap = 2.2;
    const qreal waveWidth = bars * barWidth + (bars - 1) * gap;
    const qreal waveCentreY = 30.0;
    qreal x = (left + right) / 2.0 - waveWidth / 2.0 - 3.0;
    p.setPen(Qt::NoPen);
    p.setBrush(Ink::paperEdge);
    for (qreal h : heights) {
        p.drawRoundedRect(QRectF(x, waveCentreY - h / 2.0, barWidth, h), 1.5, 1.5);
        x += barWidth + gap;
    }

    // Type band, wider than the page like a label wrapped round it.
    const QRectF band(3.5, 50.5, 86, 26);
    p.fillPath(roundedRect(band.translated(0, 1.5), 4), QColor(0, 0, 0, 45));
    QLinearGradient fill(band.topLeft(), band.bottomLeft());
    fill.setColorAt(0, Ink::accentLight);
    fill.setColorAt(1, Ink::accentDark);
    p.fillPath(roundedRect(band, 4), fill);
    p.setPen(QPen(Ink::accentDeep, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roundedRect(band, 4));

    drawCentredText(p, band.adjusted(4, 0, -4, 0), type.toUpper(), dejaVu(21, true), Ink::white);
}

void drawFolderIcon(QPainter &p, const QSize &)
{
    // Back of the folder with its tab.
    QPainterPath back;
    back.moveTo(0.5, 1.5);
    back.lineTo(5.0, 1.5);
    back.lineTo(6.5, 3.0);
    back.lineTo(13.5, 3.0);
    back.lineTo(13.5, 11.5);
    back.lineTo(0.5, 11.5);
    back.closeSubpath();
    p.fillPath(back, Ink::accentDark);
    p.setPen(QPen(Ink::accentDeep, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(back);

    // Front flap, slightly slanted.
    QPainterPath front;
    front.moveTo(2.0, 5.0);
    front.lineTo(14.5, 5.0);
    front.lineTo(13.5, 11.5);
    front.lineTo(0.5, 11.5);
    front.closeSubpath();
    QLinearGradient fill(0, 5, 0, 12);
    fill.setColorAt(0, Ink::accentLight);
    fill.setColorAt(1, Ink::accent);
    p.fillPath(front, fill);
    p.drawPath(front);
}

// ---------------------------------------------------------------------------
// Connect-off overlay: white on transparent
// ---------------------------------------------------------------------------

// Punches a hole of the given shape into what was painted so far.
void clearPath(QPainter &p, const QPainterPath &path)
{
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.fillPath(path, Qt::black);
    p.restore();
}

void drawSearching(QPainter &p, const QSize &size)
{
    const qreal cx = size.width() / 2.0;
    const QColor white = Ink::white;

    // Microphone head above the body.
    const QRectF head(cx - 26, 18, 52, 32);
    const QRectF body(cx - 29, 53, 58, 80);
    p.fillPath(roundedRect(head, 12), white);
    p.fillPath(roundedRect(body, 9), white);

    // Grille slots across the head.
    QPainterPath grille;
    for (int i = 0; i < 4; ++i)
        grille.addRoundedRect(QRectF(cx - 16, 24.5 + i * 6, 32, 2.5), 1.25, 1.25);
    clearPath(p, grille);

    // Screen with a level meter in it.
    const QRectF screen(cx - 20, 61, 40, 26);
    clearPath(p, roundedRect(screen, 3));
    const qreal levels[] = {8, 14, 19, 12, 16, 9};
    qreal x = screen.left() + 6;
    for (qreal h : levels) {
        p.fillRect(QRectF(x, screen.bottom() - 4 - h, 3, h), white);
        x += 5;
    }

    // Record button and two side keys.
    const QPointF rec(cx, 107);
    QPainterPath ring;
    ring.addEllipse(rec, 9, 9);
    clearPath(p, ring);
    p.setPen(Qt::NoPen);
    p.setBrush(white);
    p.drawEllipse(rec, 5, 5);
    QPainterPath keys;
    keys.addRoundedRect(QRectF(cx - 23, 104, 8, 6), 2, 2);
    keys.addRoundedRect(QRectF(cx + 15, 104, 8, 6), 2, 2);
    keys.addRoundedRect(QRectF(cx - 12, 121, 24, 4), 2, 2);
    clearPath(p, keys);

    // Radio waves spreading to both sides of the head, fading outwards.
    const QPointF waveCentre(cx, head.center().y());
    const qreal radii[] = {42, 56, 70};
    const int alphas[] = {255, 185, 115};
    const qreal span = 50.0;
    for (int i = 0; i < 3; ++i) {
        QColor c = white;
        c.setAlpha(alphas[i]);
        p.setPen(QPen(c, 5, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        const QRectF arcBox(waveCentre.x() - radii[i], waveCentre.y() - radii[i], 2 * radii[i], 2 * radii[i]);
        // QPainter angles: 1/16 degree, counter-clockwise from three o'clock.
        p.drawArc(arcBox, int((-span / 2.0) * 16), int(span * 16));
        p.drawArc(arcBox, int((180.0 - span / 2.0) * 16), int(span * 16));
    }

    QFont font = dejaVu(26, true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
    drawCentredText(p, QRectF(0, 142, size.width(), 30), QStringLiteral("SEARCHING"), font, white);
}

void drawInstruction(QPainter &p, const QSize &size)
{
    const QStringList lines = {
        QStringLiteral("Turn on the Wi-Fi function of the recorder you want to connect."),
        QStringLiteral("Then choose its Wi-Fi name (SSID) in this computer's Wi-Fi settings."),
    };
    const qreal margin = 8.0;
    const qreal maxWidth = size.width() - 2 * margin;

    // Largest size at which both lines fit across and one above the other.
    int pixelSize = 20;
    for (; pixelSize > 10; --pixelSize) {
        const QFontMetricsF fm(dejaVu(pixelSize, false), p.device());
        qreal widest = 0;
        for (const QString &line : lines)
            widest = qMax(widest, fm.horizontalAdvance(line));
        if (widest <= maxWidth && 2 * fm.height() <= size.height() - 2)
            break;
    }

    const QFont font = dejaVu(pixelSize, false);
    const qreal half = size.height() / 2.0;
    drawCentredText(p, QRectF(margin, 1, maxWidth, half - 1), lines.at(0), font, Ink::white);
    drawCentredText(p, QRectF(margin, half, maxWidth, half - 1), lines.at(1), font, Ink::white);
}

// ---------------------------------------------------------------------------
// Application icon
// ---------------------------------------------------------------------------

// Drawn on a 256 x 256 grid and scaled; small sizes get fewer, thicker bars.
void drawAppIcon(QPainter &p, const QSize &size)
{
    const bool small = size.width() < 96;
    p.scale(size.width() / 256.0, size.height() / 256.0);

    const QRectF tile(10, 8, 236, 236);
    p.fillPath(roundedRect(tile.translated(0, 4), 50), QColor(0, 0, 0, 60));
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0, Ink::charcoalTop);
    fill.setColorAt(1, Ink::charcoalBottom);
    p.fillPath(roundedRect(tile, 50), fill);
    p.setPen(QPen(Ink::charcoalEdge, small ? 6 : 3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roundedRect(tile, 50));

    // Waveform across the upper half.
    const std::vector<qreal> heights
        = small ? std::vector<qreal>{34, 70, 96, 60, 40} : std::vector<qreal>{22, 46, 78, 56, 96, 68, 84, 40, 24};
    const qreal barWidth = small ? 22 : 12;
    const qreal gap = small ? 14 : 8;
    const qreal waveWidth = heights.size() * barWidth + (heights.size() - 1) * gap;
    qreal x = 128 - waveWidth / 2.0;
    const qreal waveCentreY = 80;
    p.setPen(Qt::NoPen);
    p.setBrush(Ink::white);
    for (qreal h : heights) {
        p.drawRoundedRect(QRectF(x, waveCentreY - h / 2.0, barWidth, h), barWidth / 2.0, barWidth / 2.0);
        x += barWidth + gap;
    }

    // Accent arrow down into a white tray, as on the download button.
    QPainterPath arrow;
    arrow.moveTo(112, 128);
    arrow.lineTo(144, 128);
    arrow.lineTo(144, 160);
    arrow.lineTo(172, 160);
    arrow.lineTo(128, 206);
    arrow.lineTo(84, 160);
    arrow.lineTo(112, 160);
    arrow.closeSubpath();
    p.setPen(QPen(Ink::accentLight, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Ink::accentLight);
    p.drawPath(arrow);

    QPainterPath tray;
    tray.moveTo(62, 178);
    tray.lineTo(62, 214);
    tray.lineTo(194, 214);
    tray.lineTo(194, 178);
    p.setPen(QPen(Ink::white, small ? 20 : 14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tray);
}

// ---------------------------------------------------------------------------
// The list of pictures
// ---------------------------------------------------------------------------

struct Picture
{
    QString fileName;
    QSize size;
    std::function<void(QPainter &, const QSize &)> draw;
};

std::vector<Picture> allPictures()
{
    using namespace std::placeholders;
    std::vector<Picture> list;
    auto add = [&list](const char *name, int w, int h, std::function<void(QPainter &, const QSize &)> draw) {
        list.push_back({QString::fromLatin1(name), QSize(w, h), std::move(draw)});
    };

    add("ZV_01_logo.png", 100, 16, drawLogo);

    add("ZV_02_02_1.png", 19, 17, std::bind(drawReturnButton, _1, _2, Look::Disabled));
    add("ZV_02_02_2.png", 19, 17, std::bind(drawReturnButton, _1, _2, Look::Normal));
    add("ZV_02_02_3.png", 19, 17, std::bind(drawReturnButton, _1, _2, Look::Pressed));

    const QString music = QStringLiteral("MUSIC");
    const QString mtr = QStringLiteral("MTR");
    add("ZV_02_03_2_1.png", 42, 15, std::bind(drawSegment, _1, _2, Segment::Left, false, music));
    add("ZV_02_03_5_1.png", 42, 15, std::bind(drawSegment, _1, _2, Segment::Left, true, music));
    add("ZV_02_03_2_2.png", 42, 15, std::bind(drawSegment, _1, _2, Segment::Right, false, mtr));
    add("ZV_02_03_6_2.png", 42, 15, std::bind(drawSegment, _1, _2, Segment::Right, true, mtr));

    add("ZV_04_01_1.png", 12, 12, std::bind(drawCancelButton, _1, _2, false));
    add("ZV_04_01_2.png", 12, 12, std::bind(drawCancelButton, _1, _2, true));

    add("ZV_05_01_1.png", 56, 56, std::bind(drawDownloadButton, _1, _2, Look::Disabled));
    add("ZV_05_01_2.png", 56, 56, std::bind(drawDownloadButton, _1, _2, Look::Normal));
    add("ZV_05_01_3.png", 56, 56, std::bind(drawDownloadButton, _1, _2, Look::Pressed));
    add("ZV_05_02_1.png", 56, 56, std::bind(drawSettingButton, _1, _2, Look::Disabled));
    add("ZV_05_02_2.png", 56, 56, std::bind(drawSettingButton, _1, _2, Look::Normal));
    add("ZV_05_02_3.png", 56, 56, std::bind(drawSettingButton, _1, _2, Look::Pressed));

    for (const char *type : {"wav", "mp3", "wma", "dsd", "aif"}) {
        const QString t = QString::fromLatin1(type);
        const QByteArray small = "ZV_06_02_" + QByteArray(type) + ".png";
        const QByteArray large = "ZV_06_02_" + QByteArray(type) + "_L.png";
        add(small.constData(), 16, 15, std::bind(drawSmallTypeIcon, _1, _2, t));
        add(large.constData(), 95, 89, std::bind(drawLargeTypeIcon, _1, _2, t));
    }

    add("ZV_09.png", 15, 12, drawFolderIcon);

    add("ZV_08_01_searching.png", 251, 175, drawSearching);
    add("ZV_08_02_2.png", 690, 58, drawInstruction);

    add("appicon.png", 256, 256, drawAppIcon);
    add("appicon-48.png", 48, 48, drawAppIcon);

    return list;
}

// The picture drawn `scale` times as large (the same drawing, finer).
QImage render(const Picture &picture, int scale = 1)
{
    QImage image(picture.size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    p.scale(scale, scale);
    picture.draw(p, picture.size);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The application icon for desktop menus: <folder>/hicolor/NxN/apps/<id>.png
// at every size the icon theme lists, each drawn at its size (not scaled down
// from a large one) so the small ones stay crisp.
bool drawThemeIcons(const QString &folder, QTextStream &out, QTextStream &err)
{
    const QString iconName = QStringLiteral("org.zvtransfer.ZVFileTransfer.png");
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        const QString sizeName = QStringLiteral("%1x%1").arg(side);
        const QString dir = folder + QStringLiteral("/hicolor/") + sizeName + QStringLiteral("/apps");
        const QString path = dir + QLatin1Char('/') + iconName;
        const QImage image = render({iconName, QSize(side, side), drawAppIcon});
        if (!QDir().mkpath(dir) || !image.save(path, "PNG")) {
            err << "zv-draw-pictures: cannot write " << path << "\n";
            return false;
        }
        out << "hicolor/" << sizeName << "/apps/" << iconName << "\n";
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Runs on build machines without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2 || (args.size() == 2 && args.at(1).startsWith(QLatin1Char('-')))) {
        err << "usage: zv-draw-pictures [output-folder]   (default: resources/images)\n";
        return 2;
    }
    const QString outDir = args.size() == 2 ? args.at(1) : QStringLiteral("resources/images");

    const QFontInfo font(QFont(QString::fromLatin1(kFontFamily)));
    if (font.family() != QLatin1String(kFontFamily)) {
        err << "zv-draw-pictures: font \"" << kFontFamily << "\" not found (got \"" << font.family()
            << "\"); install fonts-dejavu-core\n";
        return 1;
    }

    if (!QDir().mkpath(outDir)) {
        err << "zv-draw-pictures: cannot create " << outDir << "\n";
        return 1;
    }

    // Beside the output folder: resources/icons/hicolor/... for resources/images.
    if (!drawThemeIcons(QDir::cleanPath(QDir(outDir).absoluteFilePath(QStringLiteral("../icons"))), out, err))
        return 1;

    // Each window picture also at twice the size, "NAME@2x.png", which Qt
    // uses on a 2x screen; the application icon has sizes of its own.
    const QDir dir(outDir);
    for (const Picture &picture : allPictures()) {
        const bool doubled = !picture.fileName.startsWith(QLatin1String("appicon"));
        for (int scale : {1, 2}) {
            if (scale == 2 && !doubled)
                continue;
            const QImage image = render(picture, scale);
            const QString fileName = scale == 1
                ? picture.fileName
                : QString(picture.fileName).replace(QLatin1String(".png"), QLatin1String("@2x.png"));
            const QString path = dir.filePath(fileName);
            if (!image.save(path, "PNG")) {
                err << "zv-draw-pictures: cannot write " << path << "\n";
                return 1;
            }
            out << fileName << "  " << image.width() << "x" << image.height() << "\n";
        }
    }
    return 0;
}
