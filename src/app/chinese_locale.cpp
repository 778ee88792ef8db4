#include "app/chinese_locale.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vantorel::gui {

bool installChineseLocale(QCoreApplication& app) {
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool baseLoaded = false;
    // qtbase: buttons, dialogs, calendar; qtwebengine: the page's context menu.
    for (const char* catalogue : {"qtbase", "qtwebengine"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"),
                             directory)) {
            QCoreApplication::installTranslator(translator);
            baseLoaded = baseLoaded || qstrcmp(catalogue, "qtbase") == 0;
        } else {
            delete translator;
        }
    }
    return baseLoaded;
}

} // namespace vantorel::gui
