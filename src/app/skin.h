#pragma once

// The window skin: a style sheet held in the program's resources, drawn on the
// Fusion style, with a palette that can be turned in hue and in saturation.

#include <QByteArray>
#include <QColor>

namespace vantorel::gui {

// The skin the program ships with (UTF-8 style sheet text).
QByteArray storedSkinData();

// Attaches `skinData` to every window of the application. The style sheet may
// name the skin's colours as @accent@, @window@, ... (see skin.cpp); they are
// filled in after the shift. `hue` turns every coloured tone by that many
// degrees (clamped to -180..180); `adjustment` makes colours more vivid
// (towards 100) or greyer (towards -100), clamped likewise. The style and the
// base colours are set up by the first call and reused by later ones.
void applySkin(const QByteArray& skinData, int hue, int adjustment);

// How often the skin's style and base colours were set up: stays 1 however
// many times applySkin runs.
int skinEngineLoads();

// One colour after the hue turn and the saturation adjustment, as applySkin
// applies them; arguments are clamped the same way.
QColor shiftSkinColour(const QColor& colour, int hue, int adjustment);

} // namespace vantorel::gui
