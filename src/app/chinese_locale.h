#pragma once

// The program speaks Chinese throughout, Qt's own dialogs and controls too.

class QCoreApplication;

namespace vantorel::gui {

// Makes zh_CN the default locale (month and day names, the calendar's first
// day of the week) and installs Qt's own Chinese translations, so standard
// buttons, the file dialog and the calendar popups speak Chinese. Returns
// false when Qt's base translation could not be found (qt6-translations-l10n
// is missing); the program then goes on with Qt's English texts.
bool installChineseLocale(QCoreApplication& app);

} // namespace vantorel::gui
