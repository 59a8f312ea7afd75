#include "AppKitGUI/GUIApplication.h"
#include "Environment/Environment.h"
#include <unistd.h>
#include <fcntl.h>
#include <cstdlib>
#include <csignal>

#include "AppKitGUI/QtRunLoopPump.h"
#include "AppKitGUI/WindowReporter.h"
#include "Log/Log.h"
#include "RunLoop/RunLoop.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace {

GUIApplication*& sharedSlot()
{
    static GUIApplication* application = nullptr;
    return application;
}

QApplication& qtApplication()
{
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *existing;
    // Qt keeps argc by reference and argv for the life of the application.
    static int argc = 1;
    static char name[] = "arvel";
    static char* argv[] = {name, nullptr};
    // Qt's own remarks (what an offscreen platform cannot do) are no lines
    // of the program's; they show only when debugging.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg || verboseLogging())
            logNotice("Qt: %@\n", message.toStdString());
    });
    static QApplication* application = new QApplication(argc, argv);
    // The program decides when it ends, not the last window closed.
    application->setQuitOnLastWindowClosed(false);
    return *application;
}

// Where a sheet sits: on top of its window, centred.
void placeSheet(QWidget* sheet, QWidget* window)
{
    sheet->adjustSize();
    QRect frame = window->geometry();
    sheet->move(frame.x() + (frame.width() - sheet->width()) / 2, frame.y() + 22);
}

} // namespace

GUIApplication::GUIApplication()
{
    qtApplication();
    RunLoop::current().setPump(std::make_unique<QtRunLoopPump>());
    reporter_ = std::make_unique<WindowReporter>();
    sharedSlot() = this;
}

GUIApplication::~GUIApplication()
{
    if (sharedSlot() == this)
        sharedSlot() = nullptr;
    reporter_.reset();
    RunLoop::current().setPump(nullptr);
}

GUIApplication* GUIApplication::shared()
{
    return sharedSlot();
}

void GUIApplication::run()
{
    while (!terminated_) {
        if (RunLoop::current().runInMode(kDefaultRunLoopMode, std::numeric_limits<double>::infinity()) == RunLoop::RunResult::TimedOut)
            break;
    }
}

void GUIApplication::terminate()
{
    terminated_ = true;
    RunLoop::current().stop();
}

int GUIApplication::runModalForWindow(QWidget* window)
{
    if (!window)
        return NSRunAbortedResponse;
    if (!window->isVisible()) {
        if (window->windowModality() == Qt::NonModal)
            window->setWindowModality(Qt::ApplicationModal);
        window->show();
    }
    modal_.push_back({window});
    const std::size_t depth = modal_.size();
    auto& loop = RunLoop::current();
    for (;;) {
        RunLoop::RunResult result = loop.runInMode(kModalPanelRunLoopMode, std::numeric_limits<double>::infinity());
        if (modal_[depth - 1].stopped || terminated_)
            break;
        if (result == RunLoop::RunResult::TimedOut) {
            modal_[depth - 1].code = NSRunAbortedResponse;
            break;
        }
    }
    int code = modal_[depth - 1].code;
    modal_.resize(depth - 1);
    return code;
}

void GUIApplication::stopModalWithCode(int code)
{
    if (modal_.empty())
        return;
    modal_.back().stopped = true;
    modal_.back().code = code;
    RunLoop::current().stop();
}

void GUIApplication::beginSheetModalForWindow(QWidget* sheet, QWidget* documentWindow, SheetEnd didEnd)
{
    if (!sheet)
        return;
    if (documentWindow) {
        documentWindow = documentWindow->window();
        if (sheet->parentWidget() != documentWindow)
            sheet->setParent(documentWindow, sheet->windowFlags() | Qt::Dialog);
        sheet->setWindowModality(Qt::WindowModal);
        placeSheet(sheet, documentWindow);
    }
    sheet->setProperty(WindowReporter::kKindProperty, sheet->property(WindowReporter::kKindProperty).isValid()
            ? sheet->property(WindowReporter::kKindProperty)
            : QVariant(QStringLiteral("sheet")));
    sheets_.push_back({sheet, documentWindow, std::move(didEnd)});
    sheet->show();
    sheet->raise();
}

void GUIApplication::endSheet(QWidget* sheet, int returnCode)
{
    auto it = std::find_if(sheets_.begin(), sheets_.end(), [sheet](const Sheet& s) { return s.sheet == sheet; });
    if (it == sheets_.end())
        return;
    SheetEnd didEnd = std::move(it->didEnd);
    sheets_.erase(it);
    if (didEnd)
        didEnd(returnCode);
}

QWidget* GUIApplication::attachedSheet(QWidget* documentWindow) const
{
    for (auto it = sheets_.rbegin(); it != sheets_.rend(); ++it)
        if (documentWindow && it->window == documentWindow->window())
            return it->sheet;
    return nullptr;
}

void GUIApplication::orderOut(QWidget* window)
{
    if (window)
        window->hide();
}

namespace {

int endPipe[2] = {-1, -1};

void askToEnd(int)
{
    char byte = 1;
    [[maybe_unused]] auto written = ::write(endPipe[1], &byte, 1);
}

} // namespace

void GUIApplication::prepareProgram(const char* name)
{
    setLogChannel(LogChannel::Console);
    setLogProcessName(name);
    if (!environmentValue(kQtPlatformVariable) && !environmentValue(kDisplayVariable) && !environmentValue(kWaylandDisplayVariable))
        setenv(kQtPlatformVariable, "offscreen", 1);
}

void GUIApplication::terminateOnSignals()
{
    if (endPipe[0] >= 0 || pipe2(endPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    std::signal(SIGTERM, askToEnd);
    std::signal(SIGINT, askToEnd);
    RunLoop::current().addFileDescriptorSource(
        FileDescriptorSource::create(endPipe[0], FileDescriptorSource::Readable, [this](int, int) { terminate(); }), kCommonRunLoopModes);
}
