#include "StyleList.h"

#include "log/ColorRules.h"
#include "log/Exception.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <array>
#include <optional>

namespace {

struct StyleColours
{
    const char *name;
    QRgb window;
    QRgb base;
    QRgb button;
    QRgb highlight;
    QRgb text;  // on window, base and button
};

// Each style: its surfaces, its accent and its text. The remaining roles are
// derived, and every text colour is pushed away from its background until it
// reads at 4.5:1 or better.
constexpr std::array<StyleColours, 20> kStyles = {{
    {"Amethyst Kamri", 0xE6DDF0, 0xFFFFFF, 0xD8CBE8, 0x7B4FA8, 0x1E1028},
    {"Aqua Light Slate", 0xE3EEF2, 0xF7FBFC, 0xCDE2EA, 0x23809A, 0x15262C},
    {"Auric", 0x2B2A27, 0x1F1E1C, 0x3A3833, 0xD4A017, 0xF2E6C8},
    {"Charcoal Dark Slate", 0x2E3338, 0x23272B, 0x3B4147, 0x5A8FBF, 0xE4E8EC},
    {"Cyan Dusk", 0x1F2E35, 0x172429, 0x2A3E47, 0x1FB5C9, 0xDDF3F7},
    {"Emerald Light Slate", 0xE4EFE8, 0xF8FCF9, 0xCFE4D6, 0x23885A, 0x13251A},
    {"Golden Graphite", 0x36332E, 0x2A2824, 0x45413A, 0xC9A03A, 0xF0E9D8},
    {"Iceberg Classico", 0xE8F0F7, 0xFFFFFF, 0xD4E3F0, 0x3E7CB1, 0x102030},
    {"Lavender Classico", 0xECE8F4, 0xFFFFFF, 0xDCD5EC, 0x6A5AA8, 0x1C1830},
    {"Light", 0xF3F3F3, 0xFFFFFF, 0xE5E5E5, 0x2F6FD0, 0x1A1A1A},
    {"Luna", 0xECE9D8, 0xFFFFFF, 0xE1DECB, 0x316AC5, 0x000000},
    {"Metropolis UI Blue", 0x1B2A3D, 0x14202E, 0x24384F, 0x2E8BEF, 0xE6EEF7},
    {"Metropolis UI Green", 0x1B3328, 0x13261D, 0x23432F, 0x2FB36B, 0xE3F4EA},
    {"Obsidian", 0x22262B, 0x1A1D21, 0x2D3238, 0x8A9BB0, 0xD8DEE6},
    {"Ruby Graphite", 0x2F2A2B, 0x242021, 0x3E3738, 0xB0283C, 0xF0E4E6},
    {"Sapphire Kamri", 0xDCE3F0, 0xFFFFFF, 0xC8D3EA, 0x2A4FA0, 0x0E1A33},
    {"Silver", 0xE2E4E8, 0xFFFFFF, 0xD1D4DA, 0x5E6B7D, 0x16181C},
    {"Slate Classico", 0xD8DDE2, 0xF4F6F8, 0xC5CCD3, 0x4A6075, 0x121A22},
    {"Smokey Quartz Kamri", 0x4A4440, 0x3A3532, 0x57504B, 0xB08E6E, 0xF3ECE6},
    {"Turquoise Gray", 0x3C4448, 0x30373A, 0x4A5357, 0x2EC4B6, 0xE8F0F1},
}};

constexpr double kReadable = 4.6;  // a margin over 4.5 for rounding
constexpr double kDisabled = 2.6;  // dimmed, still legible

bool IsDark(const QColor &c)
{
    return RelativeLuminance(c) < 0.2;
}

QColor Mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// The colour moved towards black or white, whichever the background is
// farther from, until it reaches the ratio.
QColor Readable(const QColor &text, const QColor &background, double ratio)
{
    const QColor target = IsDark(background) ? QColor(Qt::white) : QColor(Qt::black);
    QColor c = text;
    for (int step = 1; ContrastRatio(c, background) < ratio && step <= 20; ++step)
        c = Mix(text, target, step / 20.0);
    return c;
}

QPalette MakePalette(const StyleColours &s)
{
    const QColor window(s.window), base(s.base), button(s.button), highlight(s.highlight), text(s.text);
    const bool dark = IsDark(window);
    const QColor alternate = Mix(base, window, 0.5);
    const QColor highlighted = ContrastRatio(Qt::white, highlight) >= ContrastRatio(Qt::black, highlight)
                                   ? QColor(Qt::white)
                                   : QColor(Qt::black);
    QColor accentHighlight = highlight;
    if (ContrastRatio(highlighted, highlight) < kReadable)
        accentHighlight = Readable(highlight, highlighted, kReadable);

    QPalette p;
    auto set = [&p](QPalette::ColorRole role, const QColor &c) { p.setColor(QPalette::All, role, c); };
    set(QPalette::Window, window);
    set(QPalette::WindowText, Readable(text, window, kReadable));
    set(QPalette::Base, base);
    set(QPalette::AlternateBase, alternate);
    set(QPalette::Text, Readable(text, alternate, kReadable));
    set(QPalette::Button, button);
    set(QPalette::ButtonText, Readable(text, button, kReadable));
    set(QPalette::Highlight, accentHighlight);
    set(QPalette::HighlightedText, highlighted);
    set(QPalette::Light, button.lighter(dark ? 130 : 115));
    set(QPalette::Midlight, button.lighter(dark ? 115 : 107));
    set(QPalette::Mid, button.darker(dark ? 115 : 125));
    set(QPalette::Dark, button.darker(dark ? 135 : 160));
    set(QPalette::Shadow, button.darker(dark ? 200 : 300));
    set(QPalette::BrightText, dark ? QColor(0xFF, 0xD0, 0xD0) : QColor(0xB0, 0x00, 0x00));
    // The log view draws on the tooltip colour: its fixed black, blue, red and
    // green lines need a pale background in every style.
    set(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
    set(QPalette::ToolTipText, Qt::black);
    set(QPalette::Link, Readable(dark ? highlight.lighter(130) : highlight, base, kReadable));
    set(QPalette::LinkVisited, Readable(dark ? QColor(0xC8, 0xA2, 0xE8) : QColor(0x6A, 0x2C, 0x91), base, kReadable));
    set(QPalette::PlaceholderText, Readable(Mix(text, base, 0.35), base, kReadable));

    // Dimmed texts for disabled controls, and a quieter selection in
    // windows that are not active.
    auto dim = [&](QPalette::ColorRole role, QPalette::ColorRole background) {
        const QColor bg = p.color(QPalette::Active, background);
        QColor c = Mix(p.color(QPalette::Active, role), bg, 0.45);
        c = Readable(c, bg, kDisabled);
        p.setColor(QPalette::Disabled, role, c);
    };
    dim(QPalette::WindowText, QPalette::Window);
    dim(QPalette::Text, QPalette::Base);
    dim(QPalette::ButtonText, QPalette::Button);
    p.setColor(QPalette::Disabled, QPalette::Highlight, Mix(accentHighlight, window, 0.5));
    p.setColor(QPalette::Disabled, QPalette::HighlightedText,
               Readable(highlighted, p.color(QPalette::Disabled, QPalette::Highlight), kDisabled));
    return p;
}

// Fusion outlines check boxes and option buttons in a shade of the window
// colour that a dark (or a pale) window barely sets off. The program's
// styles draw that outline again in a colour of at least 3:1 against the
// window, as controls that can be seen need.
class ContrastStyle : public QProxyStyle
{
public:
    ContrastStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton)
            return;
        // The keyboard focus keeps Fusion's accent outline.
        if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange))
            return;
        painter->save();
        painter->setPen(IndicatorEdge(option->palette, option->state & State_Enabled));
        painter->setBrush(Qt::NoBrush);
        if (element == PE_IndicatorCheckBox) {
            painter->translate(0.5, 0.5);
            painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        } else {
            painter->setRenderHint(QPainter::Antialiasing, true);
            painter->drawEllipse(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5));
        }
        painter->restore();
    }
};

const StyleColours *Find(const QString &name)
{
    for (const StyleColours &s : kStyles)
        if (name == QLatin1String(s.name))
            return &s;
    return nullptr;
}

// The desktop's own look, taken before the first style is applied.
struct SystemLook
{
    QString styleName;
    QPalette palette;
};

SystemLook &System()
{
    static SystemLook look{QApplication::style()->name(), QApplication::palette()};
    return look;
}

}  // namespace

QColor IndicatorEdge(const QPalette &palette, bool enabled)
{
    const QColor window = palette.color(QPalette::Window);
    const QColor text = palette.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    return Readable(Mix(text, window, enabled ? 0.45 : 0.65), window, enabled ? 3.1 : 1.8);
}

QStringList StyleNames()
{
    QStringList names;
    for (const StyleColours &s : kStyles)
        names << QString::fromLatin1(s.name);
    names << kSystemStyleName;
    return names;
}

bool StyleExists(const QString &name)
{
    return name == kSystemStyleName || Find(name);
}

QPalette StylePalette(const QString &name)
{
    if (const StyleColours *s = Find(name))
        return MakePalette(*s);
    return System().palette;
}

bool ApplyStyle(const QString &name)
{
    if (!StyleExists(name))
        return false;
    const SystemLook &system = System();
    if (name == kSystemStyleName) {
        if (QApplication::style()->name() != system.styleName)
            QApplication::setStyle(QStyleFactory::create(system.styleName));
        QApplication::setPalette(system.palette);
        return true;
    }
    if (!dynamic_cast<ContrastStyle *>(QApplication::style()))
        QApplication::setStyle(new ContrastStyle);
    QApplication::setPalette(StylePalette(name));
    return true;
}

namespace {

// Out of line, so that the report names it: a lambda's throw shows as an
// anonymous operator() folded into Qt's slot code, under Qt's header.
[[gnu::noinline]] void ReportUnknownStyle(const QString &name)
{
    throw Exception(QStringLiteral("Style '%1' not found").arg(name));
}

}  // namespace

void ApplyStyleAtStart(QObject *context, const QString &name)
{
    if (ApplyStyle(name))
        return;
    // Start-up goes on in the desktop's look; the report waits for the event
    // loop, where the exception handler is in place.
    ApplyStyle(kSystemStyleName);
    QMetaObject::invokeMethod(
        context, [name] { ReportUnknownStyle(name); }, Qt::QueuedConnection);
}
