#include "app/program_state.h"

#include "base/service_origin.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace vantorel::gui {

namespace {

struct OptionSet {
    QCommandLineOption dataDir{QStringLiteral("data-dir"),
                               QStringLiteral("Directory of linkledger.db, set.ini and the browser "
                                              "profile."),
                               QStringLiteral("DIR")};
    QCommandLineOption origin{
        QStringLiteral("origin"),
        QStringLiteral("Service origin (scheme and host), default %1 or $%2.")
            .arg(QLatin1String(defaultServiceOriginText.data(),
                               static_cast<qsizetype>(defaultServiceOriginText.size())),
                 QLatin1String(serviceOriginEnvironmentVariable.data(),
                               static_cast<qsizetype>(serviceOriginEnvironmentVariable.size()))),
        QStringLiteral("URL")};
    QCommandLineOption caFile{QStringLiteral("ca-file"),
                              QStringLiteral("PEM file of CA certificates to trust for the "
                                             "service, besides the system's."),
                              QStringLiteral("FILE")};

    void addTo(QCommandLineParser& parser) {
        parser.setApplicationDescription(
            QStringLiteral("Vantorel: create Baidu Netdisk share links in bulk and keep a ledger "
                           "of them."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions({dataDir, origin, caFile});
    }
};

std::optional<QString> valueIfSet(const QCommandLineParser& parser,
                                  const QCommandLineOption& option) {
    if (!parser.isSet(option)) {
        return std::nullopt;
    }
    return parser.value(option);
}

} // namespace

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
    result.dataDir = valueIfSet(parser, options.dataDir);
    result.origin = valueIfSet(parser, options.origin);
    result.caFile = valueIfSet(parser, options.caFile);
    if (result.origin) {
        const Expected<ServiceOrigin> origin = ServiceOrigin::parse(result.origin->toStdString());
        if (!origin) {
            return Error{"--origin: " + origin.error().message, 2};
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

QUrl browserOrigin(const ProgramState& state) {
    return QUrl(QString::fromStdString(state.connection.origin.text()));
}

std::filesystem::path toFilePath(const QString& text) {
    return std::filesystem::path(text.toStdU16String());
}

QString fromFilePath(const std::filesystem::path& path) {
    return QString::fromStdU16String(path.u16string());
}

void exitCleanup(ProgramState& state) {
    state.dbPath.clear();
    state.shareOptions = ShareOptions{};
    state.currentRecordSet.close();
    (void)state.recordStore.close();
    state.connection = ConnectionSettings{};
    state.dataDir.clear();
    state.options = AppOptions{};
}

} // namespace vantorel::gui
