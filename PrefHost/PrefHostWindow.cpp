#include "PrefHost/PrefHostWindow.h"

#include "AppKitGUI/NSPreferencePane.h"
#include "Foundation/NSBundle.h"
#include "Log/Log.h"
#include "Paths/DiskRoot.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <dlfcn.h>
#include <filesystem>

struct PrefHostWindow::Pane {
    std::string path;
    std::shared_ptr<NSBundle> bundle;
    std::unique_ptr<NSPreferencePane> pane;
    QWidget* view = nullptr;
};

PrefHostWindow::PrefHostWindow()
{
    setObjectName(QStringLiteral("systemPreferencesWindow"));
    setWindowTitle(QStringLiteral("System Preferences"));
    auto* layout = new QVBoxLayout(this);
    bar_ = new QHBoxLayout;
    bar_->addStretch();
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("hostMessage"));
    message_->setWordWrap(true);
    message_->hide();
    views_ = new QStackedWidget(this);
    layout->addLayout(bar_);
    layout->addWidget(message_);
    layout->addWidget(views_, 1);
    resize(660, 560);
}

PrefHostWindow::~PrefHostWindow()
{
    hidePane();
    // The panes' views go before their code's objects.
    for (auto& pane : panes_)
        delete pane->view;
    panes_.clear();
}

void PrefHostWindow::fail(const std::string& path, const std::string& why)
{
    logError("System Preferences error: Unable to load the preference pane \"%@\": %@.\n", path, why);
    problems_.push_back("The preference pane \"" + path + "\" could not be loaded: " + why + ".");
    std::string text;
    for (const std::string& problem : problems_)
        text += (text.empty() ? "" : "\n") + problem;
    message_->setText(QString::fromStdString(text));
    message_->show();
}

std::string PrefHostWindow::problems() const
{
    std::string out;
    for (const std::string& problem : problems_)
        out += problem + "\n";
    return out;
}

bool PrefHostWindow::loadPane(const std::string& path)
{
    auto bundle = NSBundle::bundleWithPath(path);
    if (!bundle) {
        fail(path, "there is no bundle there");
        return false;
    }
    if (bundle->infoDictionary().isNil()) {
        fail(path, bundle->infoProblem());
        return false;
    }
    const std::string className = bundle->principalClassName();
    if (className.empty()) {
        fail(path, "its Info.plist names no principal class (NSPrincipalClass)");
        return false;
    }
    NSPreferencePane::Factory factory = NSPreferencePane::classNamed(className);
    if (!factory) {
        const std::string executable = bundle->executablePath();
        if (executable.empty()) {
            fail(path, "its Info.plist names no executable (CFBundleExecutable)");
            return false;
        }
        // Its code stays loaded for the life of the host.
        if (!dlopen(hostPath(executable).c_str(), RTLD_NOW | RTLD_LOCAL)) {
            const char* why = dlerror();
            fail(path, std::string("its code cannot be loaded (") + (why ? why : "unknown error") + ")");
            return false;
        }
        factory = NSPreferencePane::classNamed(className);
        if (!factory) {
            fail(path, "its code has no principal class \"" + className + "\"");
            return false;
        }
    }
    auto pane = std::make_unique<Pane>();
    pane->path = bundle->bundlePath();
    pane->bundle = bundle;
    pane->pane = factory(bundle);
    pane->view = pane->pane ? pane->pane->loadMainView() : nullptr;
    if (!pane->view) {
        fail(path, "its main view cannot be made");
        return false;
    }
    views_->addWidget(pane->view);
    std::string name = bundle->objectForInfoDictionaryKey("CFBundleName").stringOr(std::filesystem::path(pane->path).stem().string());
    auto* button = new QPushButton(QString::fromStdString(name), this);
    button->setObjectName(QString::fromStdString(name + "PaneButton"));
    Pane* raw = pane.get();
    connect(button, &QPushButton::clicked, this, [this, raw] { showPane(raw->path); });
    bar_->insertWidget(bar_->count() - 1, button);
    panes_.push_back(std::move(pane));
    return true;
}

void PrefHostWindow::loadPanesIn(const std::string& folder)
{
    std::vector<std::string> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(hostPath(folder), error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ".prefPane")
            found.push_back(normalizeSystemPath(folder + "/" + it->path().filename().string()));
    }
    std::sort(found.begin(), found.end());
    for (const std::string& path : found)
        loadPane(path);
}

bool PrefHostWindow::showPane(const std::string& path)
{
    Pane* target = nullptr;
    for (auto& pane : panes_)
        if (path.empty() ? !target : pane->path == normalizeSystemPath(path))
            target = pane.get();
    if (!target)
        return false;
    if (target == shown_)
        return true;
    hidePane();
    shown_ = target;
    setWindowTitle(QString::fromStdString(target->bundle->objectForInfoDictionaryKey("CFBundleName").stringOr("System Preferences")));
    target->pane->willSelect();
    views_->setCurrentWidget(target->view);
    target->pane->didSelect();
    return true;
}

void PrefHostWindow::hidePane()
{
    if (!shown_)
        return;
    Pane* hiding = shown_;
    shown_ = nullptr;
    hiding->pane->willUnselect();
    hiding->pane->didUnselect();
}

NSPreferencePane* PrefHostWindow::shownPane() const
{
    return shown_ ? shown_->pane.get() : nullptr;
}
