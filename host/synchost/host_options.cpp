#include "host_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <optional>
#include <tessarn/tessarn.h>
#include <unistd.h>
#include <vdk/version.h>

namespace SyncHost {

namespace {

constexpr auto description =
    "Serves a folder with files on demand, playing the sync client: REMOTE stands for the "
    "server, and every file of it appears in FOLDER as a placeholder whose content is copied "
    "from REMOTE when an application opens it. Without arguments it serves a sample remote "
    "that it creates in the temporary directory. Ctrl-C stops it and unmounts the folder.";

QString sampleBase()
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("synchost-sample-%1").arg(::getuid()));
}

// Beside the folder, so that the journal is not among the synchronised files.
QString defaultStateDir(const QString& folder)
{
    const QFileInfo info(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    return info.dir().filePath(QStringLiteral(".%1.synchost").arg(info.fileName()));
}

QString defaultSocketPath()
{
    // The runtime directory when the session has one; Qt would make up one otherwise.
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    return QDir(dir).filePath(
        QStringLiteral("synchost-%1.socket").arg(QCoreApplication::applicationPid()));
}

QString defaultPluginPath()
{
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral(SYNCHOST_PLUGIN_DIR "/vondrakelsync_vfs_tessarn.so"));
}

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption state{QStringLiteral("state"),
                             QStringLiteral("Folder for the journal and the account "
                                            "(default: .FOLDER.synchost beside FOLDER)."),
                             QStringLiteral("dir")};
    QCommandLineOption socket{QStringLiteral("socket"),
                              QStringLiteral("Path of the socket API (default: in the runtime "
                                             "directory)."),
                              QStringLiteral("path")};
    QCommandLineOption plugin{QStringLiteral("plugin"),
                              QStringLiteral("The plug-in to load (default: " SYNCHOST_PLUGIN_DIR
                                             "/vondrakelsync_vfs_tessarn.so beside synchost)."),
                              QStringLiteral("file")};
    QCommandLineOption sample{QStringLiteral("sample"),
                              QStringLiteral("Serve the sample remote, created in DIR/remote if "
                                             "missing, in DIR/sync (default without REMOTE and "
                                             "FOLDER: synchost-sample-UID in the temporary "
                                             "directory)."),
                              QStringLiteral("dir")};
    QCommandLineOption log{
        QStringLiteral("log"),
        QStringLiteral("Send the daemon's and the plug-in's output to this file."),
        QStringLiteral("file")};
    QCommandLineOption latency{QStringLiteral("latency"),
                               QStringLiteral("Simulated network: wait this long before each "
                                              "download (default 0)."),
                               QStringLiteral("ms")};
    QCommandLineOption bandwidth{QStringLiteral("bandwidth"),
                                 QStringLiteral("Simulated network: download at most this fast "
                                                "(default: no cap)."),
                                 QStringLiteral("KiB/s")};

    // Not QCommandLineParser's own version option: that one is -v.
    QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")},
                               QStringLiteral("Print the version and exit.")};
    QCommandLineOption progress{QStringLiteral("progress"),
                                QStringLiteral("Report every second how far each download that "
                                               "takes longer than that has come.")};

    Parser()
    {
        parser.setApplicationDescription(QString::fromLatin1(description));
        parser.addHelpOption();
        parser.addOptions(
            {version, sample, state, socket, plugin, log, latency, bandwidth, progress});
        parser.addPositionalArgument(QStringLiteral("REMOTE FOLDER"),
                                     QStringLiteral("The folder standing for the server, and "
                                                    "the sync folder."),
                                     QStringLiteral("[REMOTE FOLDER]"));
    }
};

// A count that is 0 when the option is absent; nothing when it is not a count.
std::optional<qint64> countOption(const QCommandLineParser& parser,
                                  const QCommandLineOption& option)
{
    if (!parser.isSet(option))
        return 0;
    bool ok = false;
    const qint64 value = parser.value(option).toLongLong(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    Parser p;
    if (!p.parser.parse(arguments))
        return UsageError{p.parser.errorText()};
    // --help-all comes with Qt's help option; it must not start serving either.
    if (p.parser.isSet(QStringLiteral("help")) || p.parser.isSet(QStringLiteral("help-all")))
        return Information{p.parser.helpText()};
    if (p.parser.isSet(p.version))
        return Information{QStringLiteral("synchost " TESSARN_VERSION_STRING
                                          " (playing vondrakelsync " VONDRAKELSYNC_VERSION_STRING
                                          ")")};

    HostOptions options;
    const QStringList positional = p.parser.positionalArguments();
    if (positional.size() == 2 && !p.parser.isSet(p.sample)) {
        options.remote = positional[0];
        options.folder = positional[1];
    } else if (positional.isEmpty()) {
        const QDir base(p.parser.isSet(p.sample) ? p.parser.value(p.sample) : sampleBase());
        options.sample = true;
        options.remote = base.filePath(QStringLiteral("remote"));
        options.folder = base.filePath(QStringLiteral("sync"));
        options.stateDir = base.filePath(QStringLiteral("state"));
    } else {
        return UsageError{QStringLiteral("Give both REMOTE and FOLDER, or neither (and "
                                         "--sample only with neither).")};
    }
    const auto latency = countOption(p.parser, p.latency);
    const auto bandwidth = countOption(p.parser, p.bandwidth);
    if (!latency || !bandwidth)
        return UsageError{QStringLiteral("--latency and --bandwidth take whole numbers.")};
    options.latency = std::chrono::milliseconds(*latency);
    options.bytesPerSecond = *bandwidth * 1024;
    options.stateDir = p.parser.isSet(p.state)      ? p.parser.value(p.state)
                       : options.stateDir.isEmpty() ? defaultStateDir(options.folder)
                                                    : options.stateDir;
    // Absolute: Qt would put a bare name in the temporary directory, while the daemon would
    // look for it in its working directory.
    options.socketPath = p.parser.isSet(p.socket)
                             ? QFileInfo(p.parser.value(p.socket)).absoluteFilePath()
                             : defaultSocketPath();
    options.pluginPath = p.parser.isSet(p.plugin) ? p.parser.value(p.plugin) : defaultPluginPath();
    options.logFile = p.parser.value(p.log);
    options.progress = p.parser.isSet(p.progress);
    return options;
}

} // namespace SyncHost
