#include "app/program_state.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace vantorel::gui {

namespace {

struct OptionSet {
    QCommandLineOption dataDir{QStringLiteral("data-dir"),
                               QStringLiteral("Directory of linkledger.db, set.ini and the browser "
                                              "profile."),
                               QStringLiteral("DIR")};
    QCommandLineOption origin{QStringLiteral("origin"),
                              QStringLiteral("Service origin (scheme and host), default %1.")
                                  .arg(QLatin1String(kDefaultServiceOrigin)),
                              QStringLiteral("URL")};
    QCommandLineOption caFile{QStringLiteral("ca-file"),
                              QStringLiteral("PEM file of CA certificates to trust for the "
                                             "service."),
                              QStringLiteral("FILE")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the main window and quit."),
                                  QStringLiteral("FILE")};

    void addTo(QCommandLineParser& parser) {
        screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.setApplicationDescription(
            QStringLiteral("Vantorel: create Baidu Netdisk share links in bulk and keep a ledger "
                           "of them."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({dataDir, origin, caFile, screenshot});
    }
};

} // namespace

Expected<QUrl> parseServiceOrigin(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() ||
        !(url.path().isEmpty() || url.path() == QLatin1String("/"))) {
        return Error{"--origin wants a scheme and a host, such as https://pan.baidu.com or "
                     "http://127.0.0.1:8080, not \"" +
                     text.toStdString() + "\""};
    }
    QUrl origin;
    origin.setScheme(scheme);
    origin.setHost(url.host());
    origin.setPort(url.port());
    return origin;
}

Expected<AppOptions> parseAppOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    OptionSet options;
    options.addTo(parser);
    if (!parser.parse(arguments)) {
        return Error{parser.errorText().toStdString(), 2};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Error{"unexpected argument: " + parser.positionalArguments().first().toStdString(),
                     2};
    }
    AppOptions result;
    result.help = parser.isSet(QStringLiteral("help"));
    result.version = parser.isSet(QStringLiteral("version"));
    result.dataDir = parser.value(options.dataDir);
    result.origin = parser.value(options.origin);
    result.caFile = parser.value(options.caFile);
    result.screenshotFile = parser.value(options.screenshot);
    if (parser.isSet(options.origin)) {
        const Expected<QUrl> origin = parseServiceOrigin(result.origin);
        if (!origin) {
            return Error{origin.error().message, 2};
        }
    }
    return result;
}

QString appOptionsHelp() {
    QCommandLineParser parser;
    OptionSet options;
    options.addTo(parser);
    return parser.helpText();
}

void exitCleanup(ProgramState& state) {
    state.dbPath.clear();
    state.caFile.clear();
    state.origin.clear();
    state.dataDir.clear();
    state.options = AppOptions{};
}

} // namespace vantorel::gui
