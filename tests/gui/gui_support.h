#pragma once
// One QApplication for the whole test program, on the offscreen platform unless another one
// was asked for; helpers that run the event loop until something holds.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/qt/main_window.h"

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "test_gui";
        static char* argv[] = {name, nullptr};
        // The window's remembered choices go to a folder of this test program alone: never the
        // user's settings, and no test running beside it sees them.
        std::string config =
            (std::filesystem::temp_directory_path() / "caddora-gui-config-XXXXXX").string();
        if (::mkdtemp(config.data())) {
            configDir_ = config;
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            // The job logs too.
            setenv("XDG_STATE_HOME", (config + "/state").c_str(), 1);
        }
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app_.reset();
        std::error_code ec;
        if (!configDir_.empty()) std::filesystem::remove_all(configDir_, ec);
    }

private:
    std::unique_ptr<QApplication> app_;
    std::string configDir_;
};

// Runs the event loop until `done` holds or `timeoutMs` passes; returns done().
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

inline void ProcessEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

// Runs `action` as soon as the event loop has a modal dialog up (started before the code that
// opens it).
template <typename Dialog>
void WhenModalDialogOpens(std::function<void(Dialog*)> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(dialog);
        }
    });
    timer->start(10);
}
