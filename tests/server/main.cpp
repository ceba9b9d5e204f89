// Serves a folder over HTTP on the loopback interface until it is stopped.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include "httpserver.h"

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serves a folder on 127.0.0.1 with HEAD and Range support."));
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("root"), QStringLiteral("Folder to serve."), QStringLiteral("folder") });
    parser.addOption({ QStringLiteral("port"), QStringLiteral("Port, 0 for any free one."), QStringLiteral("port"),
                       QStringLiteral("0") });
    parser.process(application);

    KOVTest::HttpServer server;
    server.setRoot(QDir(parser.value(QStringLiteral("root"))).absolutePath());
    if (!server.listen(quint16(parser.value(QStringLiteral("port")).toUInt()))) {
        QTextStream(stderr) << "Cannot listen on port " << parser.value(QStringLiteral("port")) << "\n";
        return 1;
    }
    QTextStream(stdout) << "listening on " << server.port() << Qt::endl;
    return application.exec();
}
