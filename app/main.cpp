// sealbench: the desktop workbench. main() builds the object graph: the one library
// instance, the application object with the options, and the virtual board on request.
#include <bootwire/bootwire.h>

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "app/file_pages.h"
#include "app/sealbench_app.h"
#include "common/version.h"

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sealbench: load and flash boards built around Vireo processors."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Start virtual boards (vireo-sim) and list their ports: one of processor TYPE, N of "
                       "VireoC_TO2 (up to 16), or N of TYPE with N:TYPE."),
        QStringLiteral("TYPE|N|N:TYPE"));
    const QCommandLineOption simulateUsb(QStringLiteral("simulate-usb"),
                                         QStringLiteral("The virtual board also serves the USB boot device."));
    const QCommandLineOption allPages(QStringLiteral("all-pages"),
                                      QStringLiteral("Also show the pages that the window keeps hidden."));
    parser.addOptions({version, simulate, simulateUsb, allPages});

    // Wrong options are told before the window system is needed, so that they get a
    // clear message (and exit status 2) also where no display is available.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "sealbench: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    // Help and version need no window system either.
    if (parser.isSet(help)) {
        // Without an application object the parser cannot know the program's name.
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("sealbench"));
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("sealbench %s\n", sealbench::kProjectVersion);
        return 0;
    }
    CSealbenchApp::Options options;
    options.simulateUsb = parser.isSet(simulateUsb);
    options.allPages = parser.isSet(allPages);
    if (parser.isSet(simulate) &&
        !CSealbenchApp::ParseSimulate(parser.value(simulate), &options.simulate, &options.simulateCount)) {
        std::fprintf(stderr,
                     "sealbench: --simulate takes VireoB, VireoC_TO1 or VireoC_TO2, a number of boards from 1 to "
                     "16, or both as N:TYPE\n");
        return 2;
    }
    if (options.simulateUsb && options.simulate.isEmpty()) {
        std::fprintf(stderr, "sealbench: --simulate-usb needs --simulate TYPE\n");
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "sealbench: unexpected argument %s\n", qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationVersion(QString::fromLatin1(sealbench::kProjectVersion));

    CSealbenchApp app(options, FilePages());
    app.InitInstance();
    return app.ExitCode();
}
