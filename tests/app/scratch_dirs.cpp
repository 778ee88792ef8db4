// Scratch data directories of the app's tests, removed by each test
// program's main() once its application has ended (see test_support.h).

#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace vantorel::gui::test {

namespace {
QStringList& scratchDirectories() {
    static QStringList directories;
    return directories;
}
} // namespace

QString scratchDirectory() {
    QTemporaryDir dir;
    dir.setAutoRemove(false);
    scratchDirectories().append(dir.path());
    return dir.path();
}

QString offscreenPlatform(QSize size) {
    const QString file = scratchDirectory() + QStringLiteral("/offscreen.json");
    QFile config(file);
    if (config.open(QIODevice::WriteOnly)) {
        config.write(QStringLiteral("{\"screens\": [{\"name\": \"screen\", \"x\": 0, \"y\": 0, "
                                    "\"width\": %1, \"height\": %2, \"logicalDpi\": 96, "
                                    "\"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                         .arg(size.width())
                         .arg(size.height())
                         .toUtf8());
    }
    return QStringLiteral("offscreen:configfile=") + file;
}

void removeScratchDirectories() {
    for (const QString& path : scratchDirectories()) {
        QDir(path).removeRecursively();
    }
    scratchDirectories().clear();
}

} // namespace vantorel::gui::test
