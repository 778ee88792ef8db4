#pragma once

// Stand-in until the shared data-directory resolver (base/data_dir.h) is in:
// replace resolveDataDirPlaceholder with it at its one call site in main.cpp.

#include <QString>

namespace vantorel::gui {

// --data-dir, else VANTOREL_DATA_DIR, else the user's application data
// directory. Does not create it.
QString resolveDataDirPlaceholder(const QString& option);

} // namespace vantorel::gui
