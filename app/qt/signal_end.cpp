#include "app/qt/signal_end.h"

#include <unistd.h>

#include <QCoreApplication>

#include "app/qt/main_window.h"
#include "platform/console.h"

SignalEnd::SignalEnd(MainWindow& window) : window_(window) {
    platform::InstallInterruptHandler();
    // The handler only notes the signal and writes a byte; the work happens here, in the loop.
    const int wake = platform::InterruptWakeDescriptor();
    if (wake >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(wake, QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalEnd::OnRequest);
    }
    idle_.setInterval(kPollMs);
    connect(&idle_, &QTimer::timeout, this, &SignalEnd::QuitWhenIdle);
}

SignalEnd::~SignalEnd() {
    notifier_.reset();
    platform::RestoreInterruptDefaults();
}

void SignalEnd::OnRequest() {
    char drained[64];
    while (::read(platform::InterruptWakeDescriptor(), drained, sizeof drained) > 0) {
    }
    if (status_ != 0) return;
    status_ = platform::InterruptSignal();
    if (status_ == 0) return;
    // No new job, no device check after this one, and no job waiting for a message box that
    // the leaving user will not answer.
    window_.setEnabled(false);
    window_.Logic().recheckAfterJob = false;
    window_.ReleaseMessageWaits();
    window_.Logic().RequestStop();
    if (window_.Logic().CanClose()) {
        QCoreApplication::exit(status_);
    } else {
        idle_.start();
    }
}

void SignalEnd::QuitWhenIdle() {
    // The job has ended (its rows are in place) and no mode query is out.
    if (!window_.Logic().CanClose()) return;
    idle_.stop();
    QCoreApplication::exit(status_);
}
