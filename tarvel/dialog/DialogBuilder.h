#pragma once
// Turns a dialog template into widgets: the dialog's caption, frame, font and size, and one
// widget per control at its rectangle, converted from dialog units with the font's metrics,
// with the tab order of the template.
#include "tarvel/res/DialogTemplate.h"

#include <QFont>
#include <QRect>

#include <vector>

class QDialog;
class QWidget;

// Dialog base units of a font: the average width of the letters A-Z and a-z, rounded the way
// the original platform rounds it, and the character height (ascent + descent).
struct DialogBaseUnits
{
    int nCx;
    int nCy;
};

// nNumber * nNumerator / nDenominator in 64 bits, rounded half away from zero; -1 when the
// denominator is 0.
int MulDiv(int nNumber, int nNumerator, int nDenominator);

class CDialogBuilder
{
public:
    // The template's font: its face (MS Sans Serif falls back to DejaVu Sans) and point size.
    static QFont TemplateFont(const DialogTemplate& dlgTemplate);
    static DialogBaseUnits BaseUnits(const QFont& font);
    // A rectangle in dialog units, in pixels: x * cx / 4 and y * cy / 8.
    static QRect MapDialogRect(const QRect& rcUnits, const DialogBaseUnits& units);

    // Sets up pDialog from the template and makes its controls as its children; returns them in
    // template order. Every control carries its ID in the property "dlgCtrlID".
    static std::vector<QWidget*> Build(const DialogTemplate& dlgTemplate, QDialog* pDialog);

    // The ID that Build gave a control; IDC_STATIC for widgets it did not make.
    static int GetDlgCtrlID(const QWidget* pWidget);
};
