// WindowReporter: tells the machine what the program shows, and presses
// the buttons the machine's operator presses.
//
// Every top-level window, as Qt shows it, is reported with its kind (the
// property kKindProperty: "window" unless the layer set "sheet", "panel"
// or "alert"), the window it sits on, its title, an alert's message
// (kMessageProperty) and its push buttons with whether each is enabled; a
// change of title or of a button's enabling is reported again, and a
// window hidden or destroyed goes off the machine's screen. A press the
// machine passes on (its "press" verb) clicks the window's enabled button
// of that title, as a person's click would.
//
// The operator's other requests work one control of the window, found by
// its outlet name (object name) or its title, as a person would and no
// further: "click" a button or check box, "choose" an item of a pop-up, a
// tab of a tab view or an entry of a list (opening it, as a double click
// does), "slide" a slider to a value. A control that is hidden, disabled,
// under a modal sheet or panel, a disabled item or a value out of range is
// refused. Each request is answered "done" once the control has acted, or
// as soon as it shows a sheet or panel (which may run modally until the
// operator answers it), or with why not.
#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <map>
#include <set>
#include <string>

class QWidget;

class WindowReporter final : public QObject {
public:
    static constexpr const char* kKindProperty = "arvelWindowKind";
    static constexpr const char* kMessageProperty = "arvelMessage";
    static constexpr const char* kTitleProperty = "arvelTitle";

    WindowReporter();
    ~WindowReporter() override;

    // The machine's id of a shown window, 0 when not reported.
    std::uint64_t idOf(const QWidget* window) const;
    // Sends a window's state again (after a change the reporter cannot see).
    void refresh(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Reported {
        QPointer<QWidget> window;
        std::uint64_t id = 0;
        std::string state; // what was last sent
    };
    void reportShown(QWidget* window);
    void reportGone(QWidget* window);
    void pressed(std::uint64_t id, const std::string& operation, const std::string& control, const std::string& value, std::uint64_t serial);
    // "done", or why the request was refused.
    std::string operate(QWidget* window, const std::string& operation, const std::string& control, const std::string& value);

    std::map<const QWidget*, Reported> reported_;
    std::uint64_t inFlight_ = 0; // the request being carried out
    std::set<QWidget*> changed_;  // windows changed while it was
    void flushChanged();
};
