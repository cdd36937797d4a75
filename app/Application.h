#pragma once

// Program start and end, shared by the program and its demo: one running copy, Qt's
// Russian texts, the store, then the main window; the store is destroyed last.

#include <QApplication>

#include <functional>
#include <memory>

class TUSBBackend;

class TApplication : public QApplication
{
public:
    TApplication(int& argc, char** argv);

    // Anything an event handler lets escape ends here, in the general error display,
    // and the program goes on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Loads Qt's own Russian texts (standard buttons, file and print dialogs); false when
// the translation files are not installed.
bool LoadFrameworkTranslations(QApplication& application);

class TSingleInstanceGuard;

// The start's first step: true when this is the only running copy; otherwise the
// operator is told so and nothing else may happen.
bool AcquireSingleInstance(TSingleInstanceGuard& guard);

struct TProgramOptions
{
    // The instrument link; null: the real USB stack.
    std::function<std::shared_ptr<TUSBBackend>()> Backend;
};

// SIGTERM, SIGINT and SIGHUP (a session ending, a service manager, Ctrl+C, a closed
// terminal) close `window` as the operator would. Every modal window is rejected first,
// innermost first, and once only the main event loop is left the window's close question
// decides: save and end, drop and end, or go on with the changes pending. The database
// engine is told to leave these signals alone. Once per program, before or after the
// first project is opened.
void CloseOnTerminationSignals(QWidget& window);

int RunProgram(int argc, char** argv, const TProgramOptions& options);
