#pragma once
#include <QFont>
#include <QRect>

#include "viewer/windows/DialogTemplates.h"

class QWidget;

// Converts dialog units to pixels with a font's base units, the way dialog templates are laid
// out: a horizontal unit is a quarter of the font's average character width, a vertical unit an
// eighth of its height.
class DialogUnits {
  public:
    DialogUnits(int baseUnitX, int baseUnitY);
    static DialogUnits fromFont(const QFont& font);

    int baseUnitX() const { return m_baseUnitX; }
    int baseUnitY() const { return m_baseUnitY; }
    int toPixelsX(int dialogUnits) const;
    int toPixelsY(int dialogUnits) const;
    QRect toPixels(int x, int y, int width, int height) const;

  private:
    int m_baseUnitX;
    int m_baseUnitY;
};

// Names `control` after its template, gives it the template's id as kControlIdProperty and puts
// it where the template says.
void placeControl(QWidget& control, const ControlTemplate& controlTemplate,
                  const DialogUnits& units);
