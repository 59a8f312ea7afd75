// GUIApplication: the application object of a program with windows (the
// preferences host, later the installer): Qt's application, the run loop
// waiting inside Qt's event loop (QtRunLoopPump), modal runs and sheets.
//
// One thread, one loop. run() serves the run loop in the default mode,
// Qt's events with it. runModalForWindow: runs the loop again, nested, in
// the modal-panel mode until stopModalWithCode: ends it: widgets keep
// painting and taking input (Qt blocks input to the windows under the
// modal one), and only the run loop's sources and timers of the modal-panel
// mode are served, so a timer added for that mode fires while a sheet is
// up. Modal runs nest: stopModalWithCode: ends the innermost.
//
// A sheet is a window-modal panel on a document window: beginSheet: shows
// it on top of the window, which takes no input while it is up; endSheet:
// calls the end handler with the code and leaves ordering out to the
// caller, as the original does.
//
// Every window shown is reported to the machine (WindowReporter.h).
#pragma once

#include <functional>
#include <memory>
#include <vector>

class QApplication;
class QWidget;
class WindowReporter;

// Answers of a modal run.
inline constexpr int NSRunStoppedResponse = -1000;
inline constexpr int NSRunAbortedResponse = -1001;

class GUIApplication {
public:
    // Makes Qt's application when the process has none yet (it then lives
    // as long as the process) and puts the run loop's waiting into it.
    GUIApplication();
    ~GUIApplication();
    GUIApplication(const GUIApplication&) = delete;
    GUIApplication& operator=(const GUIApplication&) = delete;

    // The program's application object, or null.
    static GUIApplication* shared();

    // What a program with windows does first: its lines go to its console
    // under its name, and with no display it draws offscreen.
    static void prepareProgram(const char* name);
    // SIGTERM and SIGINT end the program through the run loop: the signal
    // only writes a byte, the loop calls terminate().
    void terminateOnSignals();

    // Serves the run loop in the default mode until terminate().
    void run();
    void terminate();
    bool isTerminated() const { return terminated_; }

    // ---- modal runs
    // Shows the window and runs modally until stopModalWithCode:; answers
    // the code (NSRunAbortedResponse when the loop ran out of time with no
    // stop, which only a virtual clock can do).
    int runModalForWindow(QWidget* window);
    void stopModalWithCode(int code);
    // How many modal runs are under way.
    std::size_t modalDepth() const { return modal_.size(); }

    // ---- sheets
    using SheetEnd = std::function<void(int returnCode)>;
    void beginSheetModalForWindow(QWidget* sheet, QWidget* documentWindow, SheetEnd didEnd = {});
    void endSheet(QWidget* sheet, int returnCode = 0);
    // The sheet shown on a window, or null.
    QWidget* attachedSheet(QWidget* documentWindow) const;
    // Takes a window off the screen.
    static void orderOut(QWidget* window);

    WindowReporter& windowReporter() { return *reporter_; }

private:
    struct Sheet {
        QWidget* sheet;
        QWidget* window;
        SheetEnd didEnd;
    };
    struct Modal {
        QWidget* window;
        bool stopped = false;
        int code = NSRunStoppedResponse;
    };
    std::unique_ptr<WindowReporter> reporter_;
    std::vector<Sheet> sheets_;
    std::vector<Modal> modal_;
    bool terminated_ = false;
};
