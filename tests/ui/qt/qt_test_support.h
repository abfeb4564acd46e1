// The Qt application and front end of a Qt test program, set up as main does:
// the test owns the QApplication, the front end is shut down on the GUI thread
// before Qt goes.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "ui/frontend.h"
#include "ui/qt/qt_frontend.h"

namespace ostrel::ui::qt::testing {

inline std::unique_ptr<QApplication> &application() {
    static int argc = 1;
    static char arg0[] = "ostrel_qt_tests";
    static char *argv[] = {arg0, nullptr};
    static std::unique_ptr<QApplication> app = startApplication(argc, argv);
    return app;
}

inline std::shared_ptr<QtFrontend> &frontend() {
    static std::shared_ptr<QtFrontend> instance =
        application() ? std::make_shared<QtFrontend>() : nullptr;
    return instance;
}

// Qt must be shut down before the process's exit handlers run, as main does.
// Under ThreadSanitizer Qt instead stays up until the process ends: destroying
// QApplication joins Qt's pooled image threads through futexes the sanitizer
// cannot see (Qt is not instrumented), which it would report as a race.
class QtShutdown : public ::testing::Environment {
  public:
    void TearDown() override {
        installFrontend(nullptr);
        if (frontend()) frontend()->shutdown();
        frontend().reset();
#if defined(__SANITIZE_THREAD__)
        static auto *const keptUntilExit =
            new std::unique_ptr<QApplication>(std::move(application()));
        (void)keptUntilExit;
#endif
        application().reset();
    }
};

// Runs the event loop until `done` holds or 10 s pass.
template <typename Pred>
bool processUntil(Pred done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

// Acknowledges every message box the moment it is up, as an operator pressing OK, and keeps
// "title: text" of each.
class MessageBoxes {
  public:
    MessageBoxes() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen.push_back(box->windowTitle().toStdString() + ": " + box->text().toStdString());
                box->accept();
            }
        });
        timer_.start(5);
    }
    std::vector<std::string> seen;

  private:
    QTimer timer_;
};

}  // namespace ostrel::ui::qt::testing
