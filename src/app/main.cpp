// Ostrel's entry: start Qt, run the main panel, end with status 0.
//
// main owns the QApplication and the front end. The front end is shut down on
// this (the GUI) thread before the QApplication goes: messages still waiting
// are acknowledged and the windows dropped, so a worker that still holds the
// front end never reaches a Qt object.
#include <QApplication>
#include <memory>

#include "app/startup.h"
#include "ui/frontend.h"
#include "ui/qt/qt_frontend.h"

int main(int argc, char **argv) {
    std::unique_ptr<QApplication> app = ostrel::ui::qt::startApplication(argc, argv);
    if (!app) return 0;  // no display: nothing to show, nothing to report
    auto frontend = std::make_shared<ostrel::ui::qt::QtFrontend>();
    ostrel::ui::installFrontend(frontend);
    ostrel::runMainPanel();
    frontend->shutdown();
    ostrel::ui::installFrontend(nullptr);
    return 0;
}
