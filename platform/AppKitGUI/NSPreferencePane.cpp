#include "AppKitGUI/NSPreferencePane.h"

#include "Foundation/NSBundle.h"

#include <QWidget>

#include <map>

namespace {

std::map<std::string, NSPreferencePane::Factory>& classes()
{
    static std::map<std::string, NSPreferencePane::Factory> registered;
    return registered;
}

} // namespace

NSPreferencePane::NSPreferencePane(std::shared_ptr<NSBundle> bundle) : bundle_(std::move(bundle)) {}

NSPreferencePane::~NSPreferencePane() = default;

QWidget* NSPreferencePane::loadMainView()
{
    if (!mainView_) {
        mainView_ = assignMainView();
        if (mainView_)
            mainViewDidLoad();
    }
    return mainView_;
}

QWidget* NSPreferencePane::window() const
{
    return mainView_ ? mainView_->window() : nullptr;
}

void NSPreferencePane::registerClass(const std::string& name, Factory factory)
{
    classes()[name] = std::move(factory);
}

NSPreferencePane::Factory NSPreferencePane::classNamed(const std::string& name)
{
    auto it = classes().find(name);
    return it == classes().end() ? Factory() : it->second;
}
