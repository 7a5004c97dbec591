// Fonts and text: Qt fonts made from LOGFONT records, TextOut through a
// QImage layer (so glyphs keep the exact text colour and honour the clip
// and every surface format), and DrawText's layout: alignment, tabs,
// prefixes, word breaks and ellipses.
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

#include "platform/gdi/fonts.h"
#include "platform/gdi/gdi.h"
#include "platform/gdi/paint.h"

namespace lum::platform::gdi {

namespace {

// Metrics and painting share one device so that both see the same font.
const QPaintDevice* MetricsDevice() {
    static QImage* device = new QImage(1, 1, QImage::Format_ARGB32_Premultiplied);
    return device;
}

} // namespace

const QFont* HFONT__::Resolve() {
    std::lock_guard lock(mutex_);
    if (qfont_) return &*qfont_;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    QFont f(QString::fromStdString(ResolveFontFamily(font.lfFaceName, font.lfCharSet)));
    f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::PreferMatch));
    f.setKerning(false);
    const LONG weight = font.lfWeight <= 0 ? FW_NORMAL : std::min<LONG>(font.lfWeight, 1000);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(font.lfItalic != 0);
    f.setUnderline(font.lfUnderline != 0);
    f.setStrikeOut(font.lfStrikeOut != 0);
    if (font.lfHeight < 0) {
        f.setPixelSize(static_cast<int>(std::min<LONG>(-font.lfHeight, 2000)));
    } else if (font.lfHeight > 0) {
        // A positive height is the whole cell: scale the character height to it.
        f.setPixelSize(100);
        const QFontMetrics fm(f, MetricsDevice());
        const int cell = std::max(1, fm.ascent() + fm.descent());
        f.setPixelSize(std::max(
            1, static_cast<int>(std::lround(std::min<LONG>(font.lfHeight, 2000) * 100.0 / cell))));
    } else {
        f.setPixelSize(11);
    }
    qfont_ = f;
    return &*qfont_;
}

HFONT CreateFontIndirect(const LOGFONT* font) {
    if (!font) return nullptr;
    auto* f = new HFONT__;
    f->font = *font;
    RegisterObject(f);
    return f;
}

namespace {

QString FromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

const QFont* FontOf(HDC__* d) {
    HFONT__* f = d->font ? d->font : DefaultFont();
    return f->Resolve();
}

// Paints Text with its cell's top-left at (x, y) in device coordinates,
// rotated counter-clockwise by Angle degrees about that point. With
// BoxWidth > 0 the cell of that width is first filled in Back.
void PaintRun(Painter& p, const QFont& font, double x, double y, double angle, const QString& text,
              Rgb fore, bool opaque, Rgb back, int boxWidth, int underlineFrom = -1,
              int underlineTo = -1) {
    const QFontMetrics fm(font, MetricsDevice());
    const int height = fm.ascent() + fm.descent();
    QRect local = fm.boundingRect(text).translated(0, fm.ascent());
    local = local.united(QRect(0, 0, std::max(boxWidth, 1), height)).adjusted(-2, -2, 2, 2);
    QTransform t;
    t.translate(x, y);
    t.rotate(-angle);
    const QRect area = t.mapRect(local).intersected(QRect(p.Clip().left, p.Clip().top,
                                                          p.Clip().right - p.Clip().left,
                                                          p.Clip().bottom - p.Clip().top));
    if (area.isEmpty()) return;
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull()) return;
    layer.fill(0);
    {
        QPainter qp(&layer);
        qp.setRenderHint(QPainter::Antialiasing, false);
        qp.setRenderHint(QPainter::TextAntialiasing, false);
        QTransform lt = t * QTransform::fromTranslate(-area.left(), -area.top());
        qp.setTransform(lt);
        if (opaque && boxWidth > 0)
            qp.fillRect(QRect(0, 0, boxWidth, height), QColor::fromRgb(back | 0xFF000000u));
        qp.setFont(font);
        qp.setPen(QColor::fromRgb(fore | 0xFF000000u));
        qp.drawText(QPointF(0, fm.ascent()), text);
        if (underlineFrom >= 0 && underlineTo > underlineFrom)
            qp.fillRect(QRect(underlineFrom, fm.ascent() + 1, underlineTo - underlineFrom, 1),
                        QColor::fromRgb(fore | 0xFF000000u));
    }
    p.Layer(layer, area.left(), area.top(), true, 0, R2_COPYPEN);
}

} // namespace

BOOL ExtTextOut(HDC dc, int x, int y, UINT options, const RECT* rect, std::string_view text) {
    HDC__* d = FindDC(dc);
    if (!d) return FALSE;
    const QFont* font = FontOf(d);
    if (!font) return FALSE;
    const QString s = FromUtf8(text);
    const QFontMetrics fm(*font, MetricsDevice());
    const int width = fm.horizontalAdvance(s);
    const int height = fm.ascent() + fm.descent();
    if (d->textAlign & TA_UPDATECP) {
        x = d->pos.x;
        y = d->pos.y;
    }
    Painter p(d);
    if (p.Ok()) {
        if (rect) {
            const RECT r{rect->left + d->origin.x, rect->top + d->origin.y,
                         rect->right + d->origin.x, rect->bottom + d->origin.y};
            if (options & ETO_OPAQUE) {
                const std::uint32_t raw = p.Encode(d->bkColor);
                for (int yy = r.top; yy < r.bottom; ++yy)
                    p.Span(yy, r.left, r.right, raw, R2_COPYPEN);
            }
            if (options & ETO_CLIPPED) p.Narrow(r);
        }
        double ox = 0, oy = 0;
        switch (d->textAlign & TA_CENTER) {
        case TA_CENTER:
            ox = -width / 2;
            break;
        case TA_RIGHT:
            ox = -width;
            break;
        default:
            break;
        }
        if ((d->textAlign & TA_BASELINE) == TA_BASELINE)
            oy = -fm.ascent();
        else if (d->textAlign & TA_BOTTOM)
            oy = -height;
        const HFONT__* f = d->font ? d->font : DefaultFont();
        const double angle = f->font.lfEscapement / 10.0;
        const double rad = angle * 3.14159265358979323846 / 180.0;
        // The alignment offset runs along the rotated baseline.
        const double px = x + d->origin.x + ox * std::cos(rad) + oy * std::sin(rad);
        const double py = y + d->origin.y - ox * std::sin(rad) + oy * std::cos(rad);
        PaintRun(p, *font, px, py, angle, s, RgbFromColorref(d->textColor), d->bkMode == OPAQUE,
                 RgbFromColorref(d->bkColor), width);
    }
    if (d->textAlign & TA_UPDATECP) d->pos.x += width;
    return TRUE;
}

BOOL TextOut(HDC dc, int x, int y, std::string_view text) {
    return ExtTextOut(dc, x, y, 0, nullptr, text);
}

BOOL GetTextExtentPoint32(HDC dc, std::string_view text, SIZE* size) {
    HDC__* d = FindDC(dc);
    if (!d || !size) return FALSE;
    const QFont* font = FontOf(d);
    if (!font) return FALSE;
    const QFontMetrics fm(*font, MetricsDevice());
    size->cx = fm.horizontalAdvance(FromUtf8(text));
    size->cy = fm.ascent() + fm.descent();
    return TRUE;
}

BOOL GetTextMetrics(HDC dc, TEXTMETRIC* metrics) {
    HDC__* d = FindDC(dc);
    if (!d || !metrics) return FALSE;
    const QFont* font = FontOf(d);
    if (!font) return FALSE;
    const HFONT__* f = d->font ? d->font : DefaultFont();
    const QFontMetrics fm(*font, MetricsDevice());
    TEXTMETRIC tm;
    tm.tmAscent = fm.ascent();
    tm.tmDescent = fm.descent();
    tm.tmHeight = tm.tmAscent + tm.tmDescent;
    tm.tmInternalLeading = std::max<LONG>(0, tm.tmHeight - font->pixelSize());
    tm.tmExternalLeading = std::max(0, fm.leading());
    tm.tmAveCharWidth = fm.averageCharWidth();
    tm.tmMaxCharWidth = fm.maxWidth();
    tm.tmWeight = f->font.lfWeight <= 0 ? FW_NORMAL : f->font.lfWeight;
    tm.tmItalic = f->font.lfItalic;
    tm.tmUnderlined = f->font.lfUnderline;
    tm.tmStruckOut = f->font.lfStrikeOut;
    tm.tmCharSet = f->font.lfCharSet;
    *metrics = tm;
    return TRUE;
}

// --- DrawText ---

namespace {

struct Line {
    QString text;
    int underline = -1; // index of the prefixed character
};

class Layout {
public:
    Layout(const QFont& font, UINT format)
        : fm_(font, MetricsDevice()), format_(format),
          tab_(std::max(1, 8 * fm_.averageCharWidth())) {}

    // Width of a line with tabs at every 8 average character widths.
    int Width(const QString& s) const {
        if (!(format_ & DT_EXPANDTABS)) return fm_.horizontalAdvance(s);
        int x = 0;
        const QStringList parts = s.split('\t');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0) x = (x / tab_ + 1) * tab_;
            x += fm_.horizontalAdvance(parts[i]);
        }
        return x;
    }
    int X(const QString& s, qsizetype upTo) const { return Width(s.left(upTo)); }
    const QFontMetrics& Metrics() const { return fm_; }
    int Tab() const { return tab_; }

private:
    QFontMetrics fm_;
    UINT format_;
    int tab_;
};

// Drops the last character, keeping surrogate pairs whole.
void Chop(QString& s) {
    s.chop(1);
    if (!s.isEmpty() && s.back().isHighSurrogate()) s.chop(1);
}

QString EndEllipsis(const Layout& l, const QString& s, int max) {
    if (l.Width(s) <= max) return s;
    QString head = s;
    while (!head.isEmpty()) {
        Chop(head);
        if (l.Width(head + "...") <= max) return head + "...";
    }
    return "...";
}

QString PathEllipsis(const Layout& l, const QString& s, int max) {
    if (l.Width(s) <= max) return s;
    const qsizetype sep = std::max(s.lastIndexOf('/'), s.lastIndexOf('\\'));
    if (sep < 0) return EndEllipsis(l, s, max);
    QString head = s.left(sep);
    const QString tail = s.mid(sep);
    while (!head.isEmpty()) {
        Chop(head);
        if (l.Width(head + "..." + tail) <= max) return head + "..." + tail;
    }
    return "..." + tail;
}

std::vector<Line> Split(const QString& text, UINT format) {
    // Prefix characters first: "&&" is "&", "&x" underlines x.
    QString shown;
    int underline = -1;
    if (format & DT_NOPREFIX) {
        shown = text;
    } else {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == '&') {
                if (i + 1 < text.size() && text[i + 1] == '&') {
                    shown += '&';
                    ++i;
                } else if (i + 1 < text.size()) {
                    underline = static_cast<int>(shown.size());
                }
                continue;
            }
            shown += text[i];
        }
    }
    std::vector<Line> lines;
    if (format & DT_SINGLELINE) {
        shown.replace("\r\n", " ").replace('\n', ' ').replace('\r', ' ');
        lines.push_back(Line{shown, underline});
        return lines;
    }
    shown.replace("\r\n", "\n").replace('\r', '\n');
    int offset = 0;
    for (const QString& part : shown.split('\n')) {
        Line line{part, -1};
        if (underline >= offset && underline < offset + part.size())
            line.underline = underline - offset;
        offset += static_cast<int>(part.size()) + 1;
        lines.push_back(line);
    }
    return lines;
}

std::vector<Line> WordBreak(const Layout& l, const std::vector<Line>& in, int max) {
    std::vector<Line> out;
    for (const Line& line : in) {
        if (l.Width(line.text) <= max) {
            out.push_back(line);
            continue;
        }
        qsizetype start = 0;
        const QString& s = line.text;
        while (start < s.size()) {
            qsizetype end = start, lastBreak = -1;
            while (end < s.size()) {
                if (s[end] == ' ') lastBreak = end;
                if (l.Width(s.mid(start, end - start + 1)) > max) break;
                ++end;
            }
            if (end >= s.size()) {
                lastBreak = s.size();
            } else if (lastBreak < start) {
                // A word wider than the rectangle: break after it.
                lastBreak = s.indexOf(' ', end);
                if (lastBreak < 0) lastBreak = s.size();
            }
            Line piece{s.mid(start, lastBreak - start), -1};
            if (line.underline >= start && line.underline < lastBreak)
                piece.underline = static_cast<int>(line.underline - start);
            out.push_back(piece);
            start = lastBreak;
            while (start < s.size() && s[start] == ' ')
                ++start;
        }
    }
    return out;
}

int DrawTextImpl(HDC dc, const std::string_view text, RECT* rect, UINT format,
                 std::string* modified) {
    HDC__* d = FindDC(dc);
    if (!d || !rect) return 0;
    const QFont* font = FontOf(d);
    if (!font) return 0;
    const Layout layout(*font, format);
    const QFontMetrics& fm = layout.Metrics();
    const int maxWidth = rect->right - rect->left;
    std::vector<Line> lines = Split(FromUtf8(text), format);
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE))
        lines = WordBreak(layout, lines, maxWidth);
    bool changed = false;
    if (format & (DT_END_ELLIPSIS | DT_PATH_ELLIPSIS)) {
        for (Line& line : lines) {
            const QString fitted = (format & DT_PATH_ELLIPSIS)
                                       ? PathEllipsis(layout, line.text, maxWidth)
                                       : EndEllipsis(layout, line.text, maxWidth);
            if (fitted != line.text) {
                changed = true;
                line.text = fitted;
                if (line.underline >= fitted.size()) line.underline = -1;
            }
        }
    }
    if (modified && changed && (format & DT_MODIFYSTRING)) {
        QString joined;
        for (std::size_t i = 0; i < lines.size(); ++i)
            joined += (i ? "\n" : "") + lines[i].text;
        *modified = joined.toStdString();
    }
    const int lineHeight = fm.ascent() + fm.descent() +
                           ((format & DT_EXTERNALLEADING) ? std::max(0, fm.leading()) : 0);
    const int total = lineHeight * static_cast<int>(lines.size());
    int widest = 0;
    for (const Line& line : lines)
        widest = std::max(widest, layout.Width(line.text));
    if (format & DT_CALCRECT) {
        rect->right = rect->left + widest;
        rect->bottom = rect->top + total;
        return total;
    }
    int top = rect->top;
    if (format & DT_VCENTER)
        top = rect->top + (rect->bottom - rect->top - total) / 2;
    else if (format & DT_BOTTOM)
        top = rect->bottom - total;
    Painter p(d);
    if (p.Ok()) {
        if (!(format & DT_NOCLIP))
            p.Narrow(RECT{rect->left + d->origin.x, rect->top + d->origin.y,
                          rect->right + d->origin.x, rect->bottom + d->origin.y});
        const Rgb fore = RgbFromColorref(d->textColor), back = RgbFromColorref(d->bkColor);
        const bool opaque = d->bkMode == OPAQUE;
        int y = top + d->origin.y;
        for (const Line& line : lines) {
            const int w = layout.Width(line.text);
            int x = rect->left;
            if (format & DT_CENTER)
                x = rect->left + (maxWidth - w) / 2;
            else if (format & DT_RIGHT)
                x = rect->right - w;
            x += d->origin.x;
            if (opaque && w > 0) {
                const std::uint32_t raw = p.Encode(d->bkColor);
                for (int yy = y; yy < y + fm.ascent() + fm.descent(); ++yy)
                    p.Span(yy, x, x + w, raw, R2_COPYPEN);
            }
            int ux0 = -1, ux1 = -1;
            if (line.underline >= 0) {
                ux0 = layout.X(line.text, line.underline);
                ux1 = layout.X(line.text, line.underline + 1);
            }
            if (format & DT_EXPANDTABS) {
                int segX = 0;
                qsizetype from = 0;
                const QStringList parts = line.text.split('\t');
                for (qsizetype i = 0; i < parts.size(); ++i) {
                    if (i > 0) segX = (segX / layout.Tab() + 1) * layout.Tab();
                    const bool mine = ux0 >= 0 && line.underline >= from &&
                                      line.underline < from + parts[i].size();
                    PaintRun(p, *font, x + segX, y, 0, parts[i], fore, false, back, 0,
                             mine ? ux0 - segX : -1, mine ? ux1 - segX : -1);
                    segX += fm.horizontalAdvance(parts[i]);
                    from += parts[i].size() + 1;
                }
            } else {
                QString s = line.text;
                s.replace('\t', ' ');
                PaintRun(p, *font, x, y, 0, s, fore, false, back, 0, ux0, ux1);
            }
            y += lineHeight;
        }
    }
    return (format & (DT_VCENTER | DT_BOTTOM)) ? top - rect->top + total : total;
}

} // namespace

int DrawText(HDC dc, std::string& text, RECT* rect, UINT format) {
    std::string result;
    const int h = DrawTextImpl(dc, text, rect, format, &result);
    if (h && (format & DT_MODIFYSTRING) && !result.empty()) text = result;
    return h;
}

int DrawText(HDC dc, std::string_view text, RECT* rect, UINT format) {
    return DrawTextImpl(dc, text, rect, format, nullptr);
}

} // namespace lum::platform::gdi
