#pragma once

#include <QImage>
#include <QPixmap>

namespace kc {

enum class LampColour { Green, Yellow, Red };

// A 16 x 16 ball of the colour, with a darker rim and a small white
// highlight at the upper left.
QPixmap lampPixmap(LampColour colour);

// Names the application and sets its window icon: the theme's, installed
// with the package, or the same drawing made here.
void setUpApplicationIdentity();

// The window's icon: our own drawing of a sensor with its lamp. The image
// form needs no QGuiApplication, so the build can write the theme's PNGs
// from the same drawing the window shows.
QImage appIconImage(int size);
QPixmap appIconPixmap(int size);

} // namespace kc
