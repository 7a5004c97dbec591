#include "app/formloader.h"

#include <QLabel>
#include <QPalette>
#include <QVariant>
#include <initializer_list>
#include <utility>

#include "controls/controls.h"
#include "controls/foldrdlg.h"
#include "controls/lumgauge.h"
#include "controls/numio.h"
#include "dialogs/lumcstdlg.h"
#include "platform/base/exception.h"
#include "platform/gdi/qtgdi.h"

namespace lum::app {

namespace {

template <class T>
using Names = std::initializer_list<std::pair<const char*, T>>;

template <class T>
T Ident(const QVariant& value, Names<T> names) {
    const std::string text = value.toString().trimmed().toStdString();
    for (const auto& [name, v] : names)
        if (text == name) return v;
    throw EConvertError("Invalid property value \"" + text + "\" in form resource");
}

const Names<TColor> kColors = {
    {"clBlack", clBlack},         {"clWhite", clWhite},
    {"clBtnFace", clBtnFace},     {"clBtnHighlight", clBtnHighlight},
    {"clBtnShadow", clBtnShadow}, {"clWindowText", clWindowText},
};

const Names<TBevelCut> kCuts = {
    {"bvNone", bvNone}, {"bvLowered", bvLowered}, {"bvRaised", bvRaised}, {"bvSpace", bvSpace}};

const Names<TAlign> kAligns = {{"alNone", alNone}, {"alTop", alTop},     {"alBottom", alBottom},
                               {"alLeft", alLeft}, {"alRight", alRight}, {"alClient", alClient}};

const Names<TInFormat> kFormats = {{"itExp", itExp},        {"itFloat", itFloat}, {"itInt", itInt},
                                   {"itHex", itHex},        {"itOct", itOct},     {"itBin", itBin},
                                   {"itDynamic", itDynamic}};

const Names<TDecPSep> kSeparators = {{"dsDot", dsDot}, {"dsComma", dsComma}, {"dsBoth", dsBoth}};

const Names<TOpenOption> kOpenOptions = {
    {"ofReadOnly", ofReadOnly},
    {"ofOverwritePrompt", ofOverwritePrompt},
    {"ofHideReadOnly", ofHideReadOnly},
    {"ofNoChangeDir", ofNoChangeDir},
    {"ofShowHelp", ofShowHelp},
    {"ofNoValidate", ofNoValidate},
    {"ofAllowMultiSelect", ofAllowMultiSelect},
    {"ofExtensionDifferent", ofExtensionDifferent},
    {"ofPathMustExist", ofPathMustExist},
    {"ofFileMustExist", ofFileMustExist},
    {"ofCreatePrompt", ofCreatePrompt},
    {"ofShareAware", ofShareAware},
    {"ofNoReadOnlyReturn", ofNoReadOnlyReturn},
    {"ofNoTestFileCreate", ofNoTestFileCreate},
    {"ofNoNetworkButton", ofNoNetworkButton},
    {"ofNoLongNames", ofNoLongNames},
    {"ofOldStyleDialog", ofOldStyleDialog},
    {"ofNoDereferenceLinks", ofNoDereferenceLinks},
    {"ofEnableIncludeNotify", ofEnableIncludeNotify},
    {"ofEnableSizing", ofEnableSizing},
};

const Names<platform::BYTE> kCharsets = {{"DEFAULT_CHARSET", platform::gdi::DEFAULT_CHARSET},
                                         {"ANSI_CHARSET", platform::gdi::ANSI_CHARSET},
                                         {"SHIFTJIS_CHARSET", platform::gdi::SHIFTJIS_CHARSET}};

// Calls Apply with the property when the object has it.
template <class F>
void With(const QObject* o, const char* name, F apply) {
    const QVariant v = o->property(name);
    if (v.isValid()) apply(v);
}

void LoadNumIO(TNumIO& f) {
    // The range before the text: the field refuses a text outside it.
    With(&f, "InputFormat", [&](const QVariant& v) { f.SetInputFormat(Ident(v, kFormats)); });
    With(&f, "DecPlaceSep", [&](const QVariant& v) { f.SetDecPlaceSep(Ident(v, kSeparators)); });
    With(&f, "Beep", [&](const QVariant& v) { f.SetBeep(v.toBool()); });
    With(&f, "RangeHigh", [&](const QVariant& v) { f.SetRangeHigh(v.toDouble()); });
    With(&f, "RangeLow", [&](const QVariant& v) { f.SetRangeLow(v.toDouble()); });
    With(&f, "Text", [&](const QVariant& v) { f.SetText(v.toString().toStdString()); });
}

void LoadGauge(TLumGauge& g) {
    TLumBevel& b = *g.GetBevel();
    With(&g, "BevelOuter", [&](const QVariant& v) { b.SetBevelOuter(Ident(v, kCuts)); });
    With(&g, "BevelInner", [&](const QVariant& v) { b.SetBevelInner(Ident(v, kCuts)); });
    With(&g, "BevelOuterWidth", [&](const QVariant& v) { b.SetBevelOuterWidth(v.toInt()); });
    With(&g, "BevelInnerWidth", [&](const QVariant& v) { b.SetBevelInnerWidth(v.toInt()); });
    With(&g, "BorderWidth", [&](const QVariant& v) { b.SetBorderWidth(v.toInt()); });
    With(&g, "BorderSpace", [&](const QVariant& v) { b.SetBorderSpace(v.toInt()); });
    With(&g, "Caption", [&](const QVariant& v) { g.SetCaption(v.toString().toStdString()); });
    With(&g, "BackColor", [&](const QVariant& v) { g.SetBackColor(Ident(v, kColors)); });
    With(&g, "Align", [&](const QVariant& v) { g.SetAlign(Ident(v, kAligns)); });
}

// A label with AutoSize takes the size of its text at its place, as the
// toolkit's labels do by default, so a caption is never clipped when the
// font draws wider than the one the form was designed with.
void LoadLabel(QLabel& l) {
    With(&l, "AutoSize", [&](const QVariant& v) {
        if (v.toBool()) l.resize(l.sizeHint());
    });
}

} // namespace

void LoadFormProperties(QWidget* form) {
    // The form's font: Designer keeps the face; its character height and
    // character set decide the size and the face it is drawn with.
    TFont font;
    font.SetName(form->font().family().toStdString());
    With(form, "FontHeight", [&](const QVariant& v) { font.SetHeight(v.toInt()); });
    With(form, "FontCharset", [&](const QVariant& v) { font.SetCharset(Ident(v, kCharsets)); });
    form->setFont(ToQFont(font));
    With(form, "Color", [&](const QVariant& v) {
        QPalette p = form->palette();
        p.setColor(QPalette::Window, platform::gdi::ToQColor(Ident(v, kColors)));
        form->setPalette(p);
    });
    // The library's controls carry no meta-object of their own, so Qt's
    // casts would take every widget for one of them; the C++ type decides.
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (auto* f = dynamic_cast<TNumIO*>(w))
            LoadNumIO(*f);
        else if (auto* g = dynamic_cast<TLumGauge*>(w))
            LoadGauge(*g);
    }
    for (QLabel* l : form->findChildren<QLabel*>())
        LoadLabel(*l);
}

void LoadFolderDialogProperties(const QWidget* form, const QString& component,
                                TFolderDialog& dialog) {
    const auto key = [&](const char* p) { return (component + "." + p).toUtf8(); };
    With(form, key("Title"),
         [&](const QVariant& v) { dialog.SetTitle(v.toString().toStdString()); });
    With(form, key("Text"), [&](const QVariant& v) { dialog.SetText(v.toString().toStdString()); });
}

void LoadOpenDialogProperties(const QWidget* form, const QString& component,
                              TLumCustomOpenDialog& dialog) {
    const auto key = [&](const char* p) { return (component + "." + p).toUtf8(); };
    With(form, key("DefaultExt"),
         [&](const QVariant& v) { dialog.SetDefaultExt(v.toString().toStdString()); });
    With(form, key("Title"),
         [&](const QVariant& v) { dialog.SetTitle(v.toString().toStdString()); });
    With(form, key("Filter"),
         [&](const QVariant& v) { dialog.SetFilter(v.toString().toStdString()); });
    With(form, key("FilterIndex"), [&](const QVariant& v) { dialog.SetFilterIndex(v.toInt()); });
    With(form, key("Options"), [&](const QVariant& v) {
        TOpenOptions options;
        for (const QString& name : v.toString().split(',', Qt::SkipEmptyParts))
            options.Include(Ident(QVariant(name), kOpenOptions));
        dialog.SetOptions(options);
    });
}

} // namespace lum::app
