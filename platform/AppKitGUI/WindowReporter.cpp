#include "AppKitGUI/WindowReporter.h"

#include "AppKit/ScreenWindows.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QPushButton>
#include <QWidget>

namespace {

std::string titleOf(const QAbstractButton* button)
{
    QString text = button->text();
    text.remove(QLatin1Char('&'));
    return text.toStdString();
}

// What the machine is told of a window's buttons.
std::vector<ScreenButtonState> buttonsOf(const QWidget* window)
{
    std::vector<ScreenButtonState> buttons;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->window() != window || button->isHidden() || button->text().isEmpty())
            continue;
        buttons.push_back({titleOf(button), button->isEnabled()});
    }
    return buttons;
}

std::string stateOf(const std::string& title, const std::string& message, const std::vector<ScreenButtonState>& buttons)
{
    std::string state = title + '\n' + message;
    for (const auto& button : buttons)
        state += '\n' + button.title + (button.enabled ? "+" : "-");
    return state;
}

std::string stringProperty(const QWidget* window, const char* name)
{
    QVariant value = window->property(name);
    return value.isValid() ? value.toString().toStdString() : std::string();
}

std::string titleOfWindow(const QWidget* window)
{
    std::string title = stringProperty(window, WindowReporter::kTitleProperty);
    return title.empty() ? window->windowTitle().toStdString() : title;
}

} // namespace

WindowReporter::WindowReporter()
{
    qApp->installEventFilter(this);
    ScreenWindows::setPressHandler([this](std::uint64_t window, const std::string& button) { pressed(window, button); });
}

WindowReporter::~WindowReporter()
{
    qApp->removeEventFilter(this);
    for (auto& [key, reported] : reported_)
        ScreenWindows::close(reported.id);
    ScreenWindows::stopPresses();
}

std::uint64_t WindowReporter::idOf(const QWidget* window) const
{
    auto it = reported_.find(window);
    return it == reported_.end() ? 0 : it->second.id;
}

bool WindowReporter::eventFilter(QObject* watched, QEvent* event)
{
    if (!watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::Show:
        if (widget->isWindow())
            reportShown(widget);
        break;
    case QEvent::Hide:
        if (widget->isWindow())
            reportGone(widget);
        break;
    case QEvent::Destroy:
        reportGone(widget);
        break;
    case QEvent::EnabledChange:
    case QEvent::WindowTitleChange:
    case QEvent::DynamicPropertyChange:
        if (reported_.count(widget->window()))
            refresh(widget->window());
        break;
    default:
        break;
    }
    return false;
}

void WindowReporter::reportShown(QWidget* window)
{
    if (reported_.count(window)) {
        refresh(window);
        return;
    }
    std::string kind = stringProperty(window, kKindProperty);
    if (kind.empty())
        kind = "window";
    std::uint64_t parent = 0;
    if (QWidget* under = window->parentWidget())
        parent = idOf(under->window());
    std::string title = titleOfWindow(window), message = stringProperty(window, kMessageProperty);
    auto buttons = buttonsOf(window);
    std::uint64_t id = ScreenWindows::open(kind, parent, title, message, buttons);
    if (id)
        reported_[window] = {window, id, stateOf(title, message, buttons)};
}

void WindowReporter::refresh(QWidget* window)
{
    auto it = reported_.find(window);
    if (it == reported_.end())
        return;
    std::string title = titleOfWindow(window), message = stringProperty(window, kMessageProperty);
    auto buttons = buttonsOf(window);
    std::string state = stateOf(title, message, buttons);
    if (state == it->second.state)
        return;
    it->second.state = state;
    ScreenWindows::update(it->second.id, title, message, buttons);
}

void WindowReporter::reportGone(QWidget* window)
{
    auto it = reported_.find(window);
    if (it == reported_.end())
        return;
    std::uint64_t id = it->second.id;
    reported_.erase(it);
    ScreenWindows::close(id);
}

void WindowReporter::pressed(std::uint64_t id, const std::string& title)
{
    for (auto& [key, reported] : reported_) {
        if (reported.id != id || !reported.window)
            continue;
        for (QPushButton* button : reported.window->findChildren<QPushButton*>()) {
            if (button->window() == reported.window && button->isVisible() && button->isEnabled() && titleOf(button) == title) {
                button->click();
                return;
            }
        }
    }
}
