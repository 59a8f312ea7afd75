#include "AppKitGUI/WindowReporter.h"

#include "AppKit/ScreenWindows.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QListWidget>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QApplication>
#include <QEvent>
#include <QPushButton>
#include <QWidget>

#include <utility>

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
    ScreenWindows::setPressHandler(
        [this](std::uint64_t window, const std::string& operation, const std::string& control, const std::string& value, std::uint64_t serial) {
            pressed(window, operation, control, value, serial);
        });
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
        // While a request is carried out, a window changes many times (a
        // control greys its dependants one by one): it is told once, when
        // the request is done, so that what the request does comes first.
        if (reported_.count(widget->window())) {
            if (inFlight_)
                changed_.insert(widget->window());
            else
                refresh(widget->window());
        }
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
    // What changed before it is told first, in order.
    flushChanged();
    std::uint64_t id = ScreenWindows::open(kind, parent, title, message, buttons);
    if (id)
        reported_[window] = {window, id, stateOf(title, message, buttons)};
    // A control that brought up a sheet has done what it does; the sheet
    // may now run modally until someone answers it.
    if (std::uint64_t serial = std::exchange(inFlight_, 0))
        ScreenWindows::answer(serial, "done");
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
    changed_.erase(window);
    auto it = reported_.find(window);
    if (it == reported_.end())
        return;
    std::uint64_t id = it->second.id;
    reported_.erase(it);
    ScreenWindows::close(id);
}

void WindowReporter::pressed(
    std::uint64_t id, const std::string& operation, const std::string& control, const std::string& value, std::uint64_t serial)
{
    QWidget* window = nullptr;
    for (auto& [key, reported] : reported_)
        if (reported.id == id && reported.window)
            window = reported.window;
    if (operation == "press") {
        for (QPushButton* button : window ? window->findChildren<QPushButton*>() : QList<QPushButton*>()) {
            if (button->window() == window && button->isVisible() && button->isEnabled() && titleOf(button) == control) {
                button->click();
                return;
            }
        }
        return;
    }
    if (!serial)
        return;
    if (!window) {
        ScreenWindows::answer(serial, "the window is gone");
        return;
    }
    inFlight_ = serial;
    std::string outcome = operate(window, operation, control, value);
    const bool stillOurs = std::exchange(inFlight_, 0) == serial;
    flushChanged();
    if (stillOurs)
        ScreenWindows::answer(serial, outcome);
}

void WindowReporter::flushChanged()
{
    std::set<QWidget*> changed;
    changed.swap(changed_);
    for (QWidget* window : changed)
        refresh(window);
}

std::string WindowReporter::operate(QWidget* window, const std::string& operation, const std::string& name, const std::string& value)
{
    const QString wanted = QString::fromStdString(name);
    QWidget* control = nullptr;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->window() != window)
            continue;
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (widget->objectName() == wanted || (button && titleOf(button) == name)) {
            control = widget;
            break;
        }
    }
    const std::string quotedName = "\"" + name + "\"";
    if (!control)
        return "no control " + quotedName + " in this window";
    if (!control->isVisible())
        return quotedName + " is not shown";
    if (!control->isEnabled())
        return quotedName + " is disabled";
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != window)
        return quotedName + " is under \"" + titleOfWindow(modal) + "\"";
    const QString item = QString::fromStdString(value);
    if (operation == "click") {
        auto* button = qobject_cast<QAbstractButton*>(control);
        if (!button)
            return quotedName + " is not a button";
        button->click();
        return "done";
    }
    if (operation == "choose") {
        if (auto* popUp = qobject_cast<QComboBox*>(control)) {
            const int index = popUp->findText(item, Qt::MatchExactly);
            if (index < 0)
                return quotedName + " has no item \"" + value + "\"";
            auto* model = qobject_cast<QStandardItemModel*>(popUp->model());
            if (model && model->item(index) && !model->item(index)->isEnabled())
                return "the item \"" + value + "\" of " + quotedName + " is disabled";
            popUp->setCurrentIndex(index);
            emit popUp->activated(index);
            return "done";
        }
        if (auto* tabs = qobject_cast<QTabWidget*>(control)) {
            for (int index = 0; index < tabs->count(); ++index) {
                QString title = tabs->tabText(index);
                if (title.remove(QLatin1Char('&')) == item) {
                    tabs->setCurrentIndex(index);
                    return "done";
                }
            }
            return quotedName + " has no tab \"" + value + "\"";
        }
        if (auto* list = qobject_cast<QListWidget*>(control)) {
            QList<QListWidgetItem*> found = list->findItems(item, Qt::MatchExactly);
            if (found.isEmpty())
                return quotedName + " has no entry \"" + value + "\"";
            list->setCurrentItem(found.front());
            emit list->itemActivated(found.front());
            return "done";
        }
        return quotedName + " has no items to choose from";
    }
    if (operation == "slide") {
        auto* slider = qobject_cast<QAbstractSlider*>(control);
        if (!slider)
            return quotedName + " is not a slider";
        bool number = false;
        const int to = item.toInt(&number);
        if (!number || to < slider->minimum() || to > slider->maximum())
            return "\"" + value + "\" is not a value of " + quotedName + " (" + std::to_string(slider->minimum()) + " to "
                + std::to_string(slider->maximum()) + ")";
        slider->setSliderDown(true);
        slider->setValue(to);
        slider->setSliderDown(false);
        return "done";
    }
    return "unknown operation \"" + operation + "\"";
}
