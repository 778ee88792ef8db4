// Saves pictures of the settings, records, about and help windows, as they
// open and at their minimum size, filled with demonstration data in a
// scratch data directory, as PNG files.
// Usage: vantorel-window-shots OUTPUT-DIR

#include "app/chinese_locale.h"
#include "app/skin.h"
#include "records/record_store.h"
#include "settings/settings_form.h"
#include "settings/settings_window.h"
#include "ui/about_window.h"
#include "ui/help_window.h"
#include "ui/records_window.h"
#include "ui/ui_wait.h"
#include "ui/window_util.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

namespace {

using namespace vantorel;
using namespace vantorel::gui;

struct DemoItem {
    bool folder;
    const char* folderPath;
    const char* name;
    const char* newName;
    const char* size;
    const char* time;
    const char* user;
    bool failed;
};

// Links point at the simulated service's address, as after a demo run.
constexpr DemoItem kItems[] = {
    {false, "/课程资料", "第一章 导论.pdf", "", "2.4M", "2024-05-20 09:12:03", "demo_user", false},
    {false, "/课程资料", "第二章 线性代数.pdf", "", "3.1M", "2024-05-20 09:12:07", "demo_user",
     false},
    {false, "/课程资料", "第三章 概率.pdf", "", "2.9M", "2024-05-20 09:12:11", "demo_user", false},
    {true, "/课程资料", "习题答案", "", "", "2024-05-20 09:12:15", "demo_user", false},
    {false, "/照片/2023", "IMG_0412.jpg", "x7Kp2QmA9bTz4LwE.jpg", "4.6M", "2024-05-21 20:41:52",
     "demo_user", false},
    {false, "/照片/2023", "IMG_0413.jpg", "Rf3Nc8VyH1sJq6Dk.jpg", "5.0M", "2024-05-21 20:41:56",
     "demo_user", false},
    {false, "/照片/2023", "IMG_0414.jpg", "", "4.8M", "", "demo_user", true},
    {false, "/软件", "setup-2.3.1.exe", "[分享] setup-2.3.1.exe", "58.2M", "2024-05-22 14:03:30",
     "second_account", false},
    {true, "/软件", "工具合集", "[分享] 工具合集", "", "2024-05-22 14:03:34", "second_account",
     false},
    {false, "/文档", "会议纪要 2024-05.docx", "", "86.0K", "2024-05-23 10:30:12", "second_account",
     false},
    {false, "/文档", "年度报告.xlsx", "", "1.2M", "2024-05-23 10:30:16", "second_account", false},
};

std::string linkCode(int n) {
    static const char kChars[] = "abcdefghjkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string code = "1";
    unsigned state = 2166136261u ^ static_cast<unsigned>(n);
    for (int i = 0; i < 22; ++i) {
        state = state * 16777619u + 0x9E3779B9u;
        code += kChars[(state >> 11) % (sizeof kChars - 1)];
    }
    return code;
}

bool fillLedger(RecordStore& store) {
    int n = 0;
    for (const DemoItem& item : kItems) {
        ++n;
        ShareRecord r;
        r.isdir = item.folder ? "1" : "0";
        const std::string shown = *item.newName != '\0' ? item.newName : item.name;
        r.beforename = item.name;
        r.aftername = item.newName;
        r.path = std::string(item.folderPath) + "/" + (item.failed ? item.name : shown);
        r.sharelink =
            item.failed ? std::string(kFailedLinkText) : "http://127.0.0.1:8080/s/" + linkCode(n);
        r.password = item.failed
                         ? ""
                         : std::string(1, "abcdefgh"[n % 8]) + std::to_string(n % 10) +
                               std::string(1, "pqrstuvw"[n % 8]) + std::to_string((n * 7) % 10);
        r.sharetime = item.time;
        r.size = item.size;
        r.md5 = item.folder ? "" : linkCode(n * 31).substr(1, 16) + linkCode(n * 37).substr(1, 16);
        r.pic = item.folder ? "" : "http://127.0.0.1:8080/thumbnail/" + std::to_string(n);
        r.fid = std::to_string(880'000'000'000'000 + n * 7919);
        r.username = item.user;
        if (!store.insertRecord(r)) {
            return false;
        }
    }
    return true;
}

bool saveOne(QWidget& window, const QString& file) {
    waitPumping(400); // let it lay out and paint
    const bool saved = window.grab().save(file);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "cannot save", qPrintable(file));
    return saved;
}

// The window as it opens (NAME.png), then at its minimum size
// (NAME-minimum.png).
bool save(QWidget& window, const QDir& out, const QString& name) {
    window.show();
    bool ok = saveOne(window, out.filePath(name + QStringLiteral(".png")));
    window.resize(window.minimumSize());
    ok = saveOne(window, out.filePath(name + QStringLiteral("-minimum.png"))) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        std::fputs("usage: vantorel-window-shots OUTPUT-DIR\n", stderr);
        return 2;
    }
    const QDir out(args[1]);
    QTemporaryDir data;
    if (!data.isValid() || !QDir().mkpath(out.path())) {
        std::fputs("vantorel-window-shots: cannot make the directories\n", stderr);
        return 1;
    }

    // As the program starts: Chinese throughout, its font family and its
    // skin.
    installChineseLocale(app);
    QFont font = QApplication::font();
    font.setFamilies(uiFont(12).families());
    QApplication::setFont(font);
    applySkin(storedSkinData(), 0, 0);

    SettingsForm form;
    form.intervalText = "5";
    form.password = "8k2m";
    form.shareTypeIndex = 3;
    form.periodIndex = 0;
    form.addPrefix = true;
    form.namePrefix = "[分享] ";
    form.dailyLimitText = "300";
    const std::filesystem::path dir(data.path().toStdU16String());
    if (!saveSettingsForm(settingsFilePath(dir), form)) {
        std::fputs("vantorel-window-shots: cannot write set.ini\n", stderr);
        return 1;
    }
    RecordStore store;
    if (!store.openOrCreate(dir / std::string(kLedgerFileName)) || !fillLedger(store)) {
        std::fputs("vantorel-window-shots: cannot fill the ledger\n", stderr);
        return 1;
    }

    bool ok = true;
    {
        SettingsWindow settings(data.path());
        ok = save(settings, out, QStringLiteral("settings-window")) && ok;
    }
    {
        RecordsWindow records(store);
        // The same day in every picture, whatever day it is made on.
        const QDate day(2024, 5, 23);
        for (QDateEdit* box :
             {records.exactDateEdit(), records.rangeFromEdit(), records.rangeToEdit()}) {
            box->setDate(day);
        }
        records.query();
        records.model()->setTicked(6, true);
        records.exportBoxes().at(4)->setChecked(true);
        records.exportBoxes().at(5)->setChecked(true);
        ok = save(records, out, QStringLiteral("records-window")) && ok;
    }
    {
        AboutWindow about;
        ok = save(about, out, QStringLiteral("about-window")) && ok;
    }
    {
        HelpWindow help;
        ok = save(help, out, QStringLiteral("help-window")) && ok;
    }
    return ok ? 0 : 1;
}
