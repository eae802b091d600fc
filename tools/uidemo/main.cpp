// uidemo: the live view of the client with sixteen simulated cameras, to look at the window
// toolkit and the drawing grid together (and to take a screenshot of them without a screen).
//
//   uidemo [--language EN|RU] [--skin-dir DIR] [--screenshot FILE.png [--seconds N]]

#include "DemoWindows.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string language = "EN";
    std::string skinDir = VISTARO_SKIN_DIR;
    std::string screenshot;
    int seconds = 3;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--language" && hasValue) {
            options.language = argv[++i];
        } else if (arg == "--skin-dir" && hasValue) {
            options.skinDir = argv[++i];
        } else if (arg == "--screenshot" && hasValue) {
            options.screenshot = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            options.seconds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: uidemo [--language EN|RU] [--skin-dir DIR] "
                                 "[--screenshot FILE.png [--seconds N]]\n");
            return false;
        }
    }
    return true;
}

// Saves the whole screen, dialog included, and ends the program.
void scheduleScreenshot(const Options& options, DemoWindow& window) {
    QTimer::singleShot(options.seconds * 1000 - 800, [&window] { window.showReport(); });
    QTimer::singleShot(options.seconds * 1000, [file = options.screenshot] {
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        const bool saved = shot.save(QString::fromStdString(file));
        std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "saved" : "could not save",
                     file.c_str());
        QApplication::exit(saved ? 0 : 1);
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Options options;
    if (!parse(argc, argv, options)) {
        return 2;
    }
    DuiLib::CPaintManagerUI::SetInstance(argv[0]);
    DuiLib::CPaintManagerUI::SetResourcePath(options.skinDir);
    const std::string language =
        std::string(VISTARO_LANGUAGE_DIR) + "/" + options.language + ".xml";
    if (!DuiLib::CPaintManagerUI::ReLoadLanguageFile(language, 0)) {
        std::fprintf(stderr, "uidemo: cannot read %s\n", language.c_str());
    }
    DemoWindow window(UIDEMO_SKIN);
    window.Create(0, "vistaro", DuiLib::UI_WNDSTYLE_FRAME);
    window.CenterWindow();
    window.ShowWindow();
    if (!options.screenshot.empty()) {
        scheduleScreenshot(options, window);
    }
    return DuiLib::CPaintManagerUI::MessageLoop();
}
