// Ostrel's entry: start the Qt runtime, run the main panel, end with status 0.
#include "app/startup.h"
#include "ui/frontend.h"
#include "ui/qt/qt_frontend.h"

int main(int argc, char **argv) {
    auto frontend = ostrel::ui::qt::QtFrontend::create(argc, argv);
    if (!frontend) return 0;  // no display: nothing to show, nothing to report
    ostrel::ui::installFrontend(frontend);
    ostrel::runMainPanel();
    ostrel::ui::installFrontend(nullptr);
    return 0;
}
