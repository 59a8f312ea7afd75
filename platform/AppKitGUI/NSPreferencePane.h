// NSPreferencePane: the base of a preference pane's principal class, as
// the preferences host drives it.
//
// The host makes the pane with its bundle, asks for its main view
// (loadMainView: the subclass builds it from its interface file, then
// mainViewDidLoad runs once), puts the view in its window, and calls
// willSelect and didSelect each time it shows the pane, willUnselect and
// didUnselect each time it hides it (and when it quits).
//
// A pane bundle names its principal class in its Info.plist
// (NSPrincipalClass); the class is registered under that name when its
// code is loaded (ARVEL_PREFERENCE_PANE_CLASS in the pane's own source),
// and the host finds it by name (classNamed).
#pragma once

#include <functional>
#include <memory>
#include <string>

class NSBundle;
class QWidget;

class NSPreferencePane {
public:
    using Factory = std::function<std::unique_ptr<NSPreferencePane>(std::shared_ptr<NSBundle> bundle)>;

    explicit NSPreferencePane(std::shared_ptr<NSBundle> bundle);
    virtual ~NSPreferencePane();
    NSPreferencePane(const NSPreferencePane&) = delete;
    NSPreferencePane& operator=(const NSPreferencePane&) = delete;

    // The pane's own bundle (not the host's).
    const std::shared_ptr<NSBundle>& bundle() const { return bundle_; }

    // Builds the main view once and calls mainViewDidLoad; the same view after.
    QWidget* loadMainView();
    QWidget* mainView() const { return mainView_; }
    // The window the main view sits in (the host's), for sheets.
    QWidget* window() const;

    virtual void mainViewDidLoad() {}
    virtual void willSelect() {}
    virtual void didSelect() {}
    virtual void willUnselect() {}
    virtual void didUnselect() {}

    // ---- principal classes by name
    static void registerClass(const std::string& name, Factory factory);
    // Null when no loaded code registered the name.
    static Factory classNamed(const std::string& name);

protected:
    // The pane's view, built from its interface file (owned by the caller
    // of loadMainView once built).
    virtual QWidget* assignMainView() = 0;

private:
    std::shared_ptr<NSBundle> bundle_;
    QWidget* mainView_ = nullptr;
};

// Registers a pane class under its own name when its code is loaded.
#define ARVEL_PREFERENCE_PANE_CLASS(Class)                                                                                              \
    static const bool Class##Registered = [] {                                                                                         \
        NSPreferencePane::registerClass(#Class, [](std::shared_ptr<NSBundle> bundle) -> std::unique_ptr<NSPreferencePane> {            \
            return std::make_unique<Class>(std::move(bundle));                                                                         \
        });                                                                                                                            \
        return true;                                                                                                                   \
    }()
