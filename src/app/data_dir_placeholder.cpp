#include "app/data_dir_placeholder.h"

#include <QDir>
#include <QStandardPaths>

namespace vantorel::gui {

QString resolveDataDirPlaceholder(const QString& option) {
    if (!option.isEmpty()) {
        return QDir(option).absolutePath();
    }
    const QString fromEnvironment = qEnvironmentVariable("VANTOREL_DATA_DIR");
    if (!fromEnvironment.isEmpty()) {
        return QDir(fromEnvironment).absolutePath();
    }
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

} // namespace vantorel::gui
